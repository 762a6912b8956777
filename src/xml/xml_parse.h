// A small, lenient XML document model: a tokenizer and tree builder over a
// whole document, entities declared in its DOCTYPE (external ones loaded
// from files or over HTTP), the tree of nodes, XPath-like axis searches and
// an indenting writer. Nothing is validated: end tags are not matched and
// whatever cannot be read stays text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/byte_sink.h"
#include "base/lists.h"
#include "base/text_string.h"
#include "xml/xml_entity_loader.h"

// Turns on the navigation traces on standard output ("-dbg"); stays on.
extern bool xml_debug;

// Attribute name -> value, kept in ascending byte order of the names; a
// sorted vector, as elements carry a handful of attributes at most.
class XmlAttributeMap {
public:
    // Inserts, or replaces the value of an existing name.
    void set(const string& name, const string& value);
    const string* find(std::string_view name) const;
    size_t count() const { return entries_.size(); }
    const std::pair<string, string>& at(size_t i) const { return entries_[i]; }
    // Replaces the map by these entries (of equal names the last holds).
    void assign(std::vector<std::pair<string, string>>& entries);

private:
    std::vector<std::pair<string, string>> entries_;
};

// What only a root (or a node read from a document of its own) carries:
// the entity maps of the main root, version and encoding of an ?xml
// declaration, the system identifier of an external-entity node.
struct XmlRootData {
    // Maps keyed by the reference text ("&name;"); looked up by views.
    std::map<std::string, string, std::less<>> general_entities;
    std::map<std::string, string, std::less<>> external_entities;
    std::map<std::string, int64_t, std::less<>> entity_file_times;
    bool declared = false;  // version and encoding come from an ?xml declaration
    string version = "1.0";
    string encoding = "utf-8";
    string entity_source;
};

class XmlParse : public List<XmlParse*> {
public:
    enum : int32_t {
        removed = 0,
        element = 1,
        text = 2,
        comment = 3,  // also a declaration: a tag starting with '!'
        instruction = 4,
        external_entity = 5,
        cdata = 6,
    };

    // A document root, reset.
    XmlParse();
    ~XmlParse() override;
    XmlParse(const XmlParse&) = delete;
    XmlParse& operator=(const XmlParse&) = delete;

    // Empties the maps, deletes every child, and makes the node a root of
    // its own again.
    void reset();
    // A new node of that type and name under parent, appended to its
    // children; roots and flags come from the parent.
    static XmlParse* new_child(XmlParse* parent, int32_t type, const string& name = string());
    // Appends child (it becomes owned by this node); its parent stays.
    void add_child(XmlParse* child);
    // Marks the node and its whole subtree removed.
    void drop_node();

    bool get_attribute(const char* name, string& value) const;
    void set_attribute(const string& name, const string& value);

    // Resets the node, then builds the tree of the text under it; the
    // policy says what external entities may load.
    void parse_document(const string& text, const XmlEntityPolicy& policy = XmlEntityPolicy());
    void parse_document(const char* data, size_t length, const XmlEntityPolicy& policy = XmlEntityPolicy());

    // The node as indented text. With references_only, an external-entity
    // node is written as its reference alone, not with the content it was
    // read from (what a save writes back into the document).
    string serialize(int indent, bool references_only);
    void serialize_to(ByteSink& sink, int indent, bool references_only);

    bool node_matches(const char* test, const char* attribute, const char* value) const;
    XmlParse* find_id(const char* id);
    XmlParse* nth_child(long n, const char* test, const char* attribute, const char* value);
    XmlParse* nth_descendant(long n, const char* test, const char* attribute, const char* value);
    XmlParse* nth_following(long n, const char* test, const char* attribute, const char* value);
    XmlParse* nth_sibling(long n, const char* test, const char* attribute, const char* value);
    XmlParse* nth_ancestor(long n, const char* test, const char* attribute, const char* value);

    // Version and encoding of the (sub)document, "1.0" and "utf-8" unless
    // an ?xml declaration said otherwise.
    const string& version() const;
    const string& encoding() const;
    const string& entity_source() const;
    // Created on first use.
    XmlRootData& root_data();
    const XmlRootData* root_data_if_any() const { return root_data_.get(); }
    const XmlAttributeMap* attributes() const { return attributes_.get(); }
    XmlAttributeMap& attributes_for_writing();

    XmlParse* parent = nullptr;
    string name;
    string source;  // the name as read; shares its storage until renamed
    XmlParse* main_root;
    XmlParse* sub_root;
    int32_t type = element;
    uint8_t utf8 = 1;
    uint8_t self_closed = 0;
    uint8_t origin_mark = 0;

private:
    XmlParse(XmlParse* parent, int32_t type, const string& name);
    void delete_children();

    std::unique_ptr<XmlAttributeMap> attributes_;
    std::unique_ptr<XmlRootData> root_data_;
};

// "&amp;" for '&', "&lt;", "&gt;"; in attributes also "&quot;", "&apos;".
string xml_escape(const string& text, bool in_attribute);
void xml_escape_to(std::string& out, const char* text, size_t length, bool in_attribute);
// The five named references and numeric ones (the low 8 bits of the
// number) become their characters; any other reference stays as it is.
string xml_unescape(const string& text);
void xml_unescape_to(std::string& out, const char* text, size_t length);
