// The nodes: creation, ownership, removal marks and attributes. Subtrees
// are walked with explicit stacks, so a deeply nested document cannot
// exhaust the call stack.
#include <algorithm>
#include <cstring>
#include <vector>

#include "xml/xml_parse.h"

bool xml_debug = false;

namespace {

bool name_less(const std::pair<string, string>& entry, std::string_view name)
{
    return std::string_view(entry.first.c_str(), entry.first.length()) < name;
}

const string& default_version()
{
    static const string v("1.0");
    return v;
}

const string& default_encoding()
{
    static const string e("utf-8");
    return e;
}

}  // namespace

void XmlAttributeMap::set(const string& name, const string& value)
{
    std::string_view key(name.c_str(), name.length());
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, name_less);
    if (it != entries_.end() && std::string_view(it->first.c_str(), it->first.length()) == key) it->second = value;
    else entries_.insert(it, std::make_pair(name, value));
}

void XmlAttributeMap::assign(std::vector<std::pair<string, string>>& entries)
{
    auto less = [](const std::pair<string, string>& a, const std::pair<string, string>& b) {
        return std::string_view(a.first.c_str(), a.first.length()) < std::string_view(b.first.c_str(), b.first.length());
    };
    std::stable_sort(entries.begin(), entries.end(), less);
    entries_.clear();
    entries_.reserve(entries.size());
    for (auto& e : entries) {
        // Of equal names the last one written holds.
        if (!entries_.empty() && !less(entries_.back(), e)) entries_.back().second = e.second;
        else entries_.push_back(e);
    }
}

const string* XmlAttributeMap::find(std::string_view name) const
{
    auto it = std::lower_bound(entries_.begin(), entries_.end(), name, name_less);
    if (it != entries_.end() && std::string_view(it->first.c_str(), it->first.length()) == name) return &it->second;
    return nullptr;
}

XmlParse::XmlParse() : main_root(this), sub_root(this) {}

XmlParse::XmlParse(XmlParse* parent, int32_t type, const string& name)
    : parent(parent),
      name(name),
      source(name),
      main_root(parent->main_root),
      sub_root(parent->sub_root),
      type(type),
      utf8(parent->utf8)
{
}

XmlParse::~XmlParse() { delete_children(); }

void XmlParse::delete_children()
{
    std::vector<XmlParse*> doomed;
    XmlParse* child;
    while (take_first(child)) doomed.push_back(child);
    while (!doomed.empty()) {
        XmlParse* node = doomed.back();
        doomed.pop_back();
        while (node->take_first(child)) doomed.push_back(child);
        delete node;  // has no children left: its own destructor does not walk
    }
}

void XmlParse::reset()
{
    delete_children();
    attributes_.reset();
    root_data_.reset();
    main_root = sub_root = this;
    type = element;
    parent = nullptr;
    name = source = string();
    self_closed = origin_mark = 0;
    utf8 = 1;
}

XmlParse* XmlParse::new_child(XmlParse* parent, int32_t type, const string& name)
{
    std::unique_ptr<XmlParse> node(new XmlParse(parent, type, name));
    parent->add(node.get());
    return node.release();
}

void XmlParse::add_child(XmlParse* child) { add(child); }

void XmlParse::drop_node()
{
    std::vector<XmlParse*> pending{this};
    while (!pending.empty()) {
        XmlParse* node = pending.back();
        pending.pop_back();
        node->type = removed;
        ListIterator<XmlParse*> it(*node);
        XmlParse* child;
        for (int more = it.first(child); more; more = it.next(child)) pending.push_back(child);
    }
}

bool XmlParse::get_attribute(const char* name, string& value) const
{
    if (!attributes_) return false;
    const string* found = attributes_->find(std::string_view(name, std::strlen(name)));
    if (!found) return false;
    value = *found;
    return true;
}

void XmlParse::set_attribute(const string& name, const string& value) { attributes_for_writing().set(name, value); }

XmlAttributeMap& XmlParse::attributes_for_writing()
{
    if (!attributes_) attributes_.reset(new XmlAttributeMap);
    return *attributes_;
}

XmlRootData& XmlParse::root_data()
{
    if (!root_data_) root_data_.reset(new XmlRootData);
    return *root_data_;
}

// Children take these from their parent when they are made; a node keeps
// them only when an ?xml declaration gave it its own.
const string& XmlParse::version() const
{
    for (const XmlParse* n = this; n; n = n->parent)
        if (n->root_data_ && n->root_data_->declared) return n->root_data_->version;
    return default_version();
}

const string& XmlParse::encoding() const
{
    for (const XmlParse* n = this; n; n = n->parent)
        if (n->root_data_ && n->root_data_->declared) return n->root_data_->encoding;
    return default_encoding();
}

const string& XmlParse::entity_source() const
{
    static const string none;
    return root_data_ ? root_data_->entity_source : none;
}
