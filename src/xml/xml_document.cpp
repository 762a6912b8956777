// Building the tree from the tokens: the stack of open nodes, names and
// attributes, the ?xml declaration and the entity declarations of a
// DOCTYPE.
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_times.h"
#include "xml/xml_entity_loader.h"
#include "xml/xml_parse.h"
#include "xml/xml_tokenizer.h"

namespace {

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool starts_with(std::string_view s, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return s.size() >= n && std::memcmp(s.data(), prefix, n) == 0;
}

// Element, instruction and attribute names repeat throughout a document:
// one stored copy of each is shared by every node that carries it.
class NameTable {
public:
    string get(std::string_view text)
    {
        if (text.size() > max_length) return string(text.data(), text.size());
        auto it = names_.find(text);
        if (it != names_.end()) return it->second;
        string s(text.data(), text.size());
        names_.emplace(std::string_view(s.c_str(), s.length()), s);
        return s;
    }

private:
    static constexpr size_t max_length = 64;
    std::unordered_map<std::string_view, string> names_;
};

// A quoted literal (or a word up to white space) at p; p moves past it.
std::string_view literal(const char*& p, const char* end)
{
    if (p < end && (*p == '"' || *p == '\'')) {
        char q = *p++;
        const char* start = p;
        while (p < end && *p != q) ++p;
        std::string_view v(start, static_cast<size_t>(p - start));
        if (p < end) ++p;
        return v;
    }
    const char* start = p;
    while (p < end && !is_white(*p)) ++p;
    return std::string_view(start, static_cast<size_t>(p - start));
}

void skip_white(const char*& p, const char* end)
{
    while (p < end && is_white(*p)) ++p;
}

// found is the caller's, so that its room is reused from tag to tag.
void read_attributes(XmlParse& node, const char* p, const char* end, NameTable& names,
                     std::vector<std::pair<string, string>>& found)
{
    found.clear();
    for (;;) {
        skip_white(p, end);
        if (p >= end) break;
        const char* start = p;
        while (p < end && *p != '=' && !is_white(*p)) ++p;
        std::string_view name(start, static_cast<size_t>(p - start));
        const char* q = p;
        skip_white(q, end);
        if (q >= end || *q != '=') continue;  // a bare word: dropped
        p = q + 1;
        skip_white(p, end);
        std::string_view value = literal(p, end);
        if (name.empty() || value.empty()) continue;
        // References in the value were kept for this (see the tokenizer).
        string v = std::memchr(value.data(), '&', value.size()) ? xml_unescape(string(value.data(), value.size()))
                                                                  : string(value.data(), value.size());
        if (!v.empty()) found.emplace_back(names.get(name), v);
    }
    if (!found.empty()) node.attributes_for_writing().assign(found);
}

void read_declaration(XmlParse& node)
{
    XmlRootData& d = node.root_data();
    d.declared = true;
    node.get_attribute("version", d.version);
    node.get_attribute("encoding", d.encoding);
    node.utf8 = d.encoding == "utf-8" || d.encoding == "UTF-8";
}

// Each "<!ENTITY name ...>" of a DOCTYPE into the main root's maps.
void read_entity_declarations(std::string_view text, XmlParse& main_root)
{
    const char* p = text.data();
    const char* end = p + text.size();
    static const char marker[] = "<!ENTITY";
    const size_t n = sizeof marker - 1;
    for (;;) {
        const char* hit = static_cast<const char*>(memmem(p, static_cast<size_t>(end - p), marker, n));
        if (!hit) return;
        p = hit + n;
        skip_white(p, end);
        const char* start = p;
        while (p < end && !is_white(*p)) ++p;
        std::string_view name(start, static_cast<size_t>(p - start));
        skip_white(p, end);
        if (name.empty() || name == "%") continue;  // parameter entities are not referred to by '&'
        std::string key = "&" + std::string(name) + ";";
        XmlRootData& maps = main_root.root_data();
        std::string_view rest(p, static_cast<size_t>(end - p));
        bool is_public = starts_with(rest, "PUBLIC");
        if (is_public || starts_with(rest, "SYSTEM")) {
            p += 6;
            skip_white(p, end);
            if (is_public) {
                literal(p, end);  // the public identifier
                skip_white(p, end);
            }
            std::string_view id = literal(p, end);
            string system_id(id.data(), id.size());
            maps.external_entities[key] = system_id;
            if (!is_public) maps.entity_file_times[std::string(id)] = file_modified_time(entity_file_path(system_id).c_str());
        } else if (p < end && (*p == '"' || *p == '\'')) {
            std::string_view value = literal(p, end);
            maps.general_entities[key] = string(value.data(), value.size());
        }
    }
}

int32_t node_type(const XmlToken& t)
{
    if (t.cdata) return XmlParse::cdata;
    if (t.data[0] == '!') return XmlParse::comment;
    if (t.data[0] == '?') return XmlParse::instruction;
    if (!t.entity_source.empty()) return XmlParse::external_entity;
    return XmlParse::element;
}

}  // namespace

void XmlParse::parse_document(const string& text, const XmlEntityPolicy& policy)
{
    parse_document(text.c_str(), text.length(), policy);
}

void XmlParse::parse_document(const char* data, size_t length, const XmlEntityPolicy& policy)
{
    reset();
    XmlTokenizer tokens(data, length, *this, policy);
    NameTable names;
    std::vector<std::pair<string, string>> found;
    std::vector<XmlParse*> open;
    XmlParse* current = nullptr;
    XmlToken t;
    while (tokens.next_token(t)) {
        if (t.length == 0) continue;
        std::string_view text = t.view();
        if (t.kind == XmlToken::text) {
            new_child(current ? current : this, t.cdata ? cdata : XmlParse::text, string(t.data, t.length));
            continue;
        }
        if (t.kind == XmlToken::end_tag) {
            if (!open.empty()) current = open.back(), open.pop_back();
            continue;
        }
        int32_t kind = node_type(t);
        // Elements and instructions are named by their first word and carry
        // attributes; other nodes are named by their whole text.
        size_t name_length = text.size();
        if (kind == element || kind == instruction) {
            name_length = 0;
            while (name_length < text.size() && !is_white(text[name_length])) ++name_length;
        }
        string node_name = kind == element || kind == instruction ? names.get(text.substr(0, name_length))
                                                                    : string(t.data, t.length);
        XmlParse* node;
        if (current) {
            open.push_back(current);
            node = new_child(current, kind, node_name);
        } else {
            node = this;  // the first tag of the document
            type = kind;
            name = source = node_name;
        }
        current = node;
        if (kind == external_entity) {
            node->root_data().entity_source = t.entity_source;
            node->sub_root = node;
        }
        node->self_closed = t.kind == XmlToken::self_contained;
        if (kind == element || kind == instruction)
            read_attributes(*node, t.data + name_length, t.data + t.length, names, found);
        if (starts_with(text, "?xml ")) read_declaration(*node);
        if (starts_with(text, "!DOCTYPE ")) read_entity_declarations(text, *main_root);
        if (t.kind == XmlToken::self_contained && !open.empty()) current = open.back(), open.pop_back();
    }
}
