// The node test and the axis searches, with their debug traces.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "xml/xml_parse.h"

namespace {

bool blank(const char* s) { return !s || !*s; }

// |n| without overflow.
unsigned long magnitude(long n) { return n < 0 ? 0UL - static_cast<unsigned long>(n) : static_cast<unsigned long>(n); }

void trace_step(const XmlParse& node, long n, unsigned long counter, const char* test, const char* attribute,
                const char* value)
{
    if (!xml_debug) return;
    std::string line(node.name.c_str(), node.name.length());
    line += ", type=" + std::to_string(node.type) + " descendant(" + std::to_string(n) + "," +
            std::to_string(counter) + "," + (test ? test : "") + "," + (attribute ? attribute : "") + "," +
            (value ? value : "") + ")\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
}

// The children of a node, from the first or from the last.
class Children {
public:
    Children(XmlParse& node, bool forward) : it_(node), forward_(forward) {}
    bool next(XmlParse*& child)
    {
        int got = started_ ? (forward_ ? it_.next(child) : it_.prev(child))
                           : (forward_ ? it_.first(child) : it_.last(child));
        started_ = true;
        return got != 0;
    }

private:
    ListIterator<XmlParse*> it_;
    bool forward_;
    bool started_ = false;
};

// The search state shared by the axes: what to match and how many.
struct Search {
    long n;
    const char* test;
    const char* attribute;
    const char* value;
    unsigned long counter = 0;

    bool everything() const { return blank(test) && blank(attribute) && blank(value); }
    // Counts a match; true when it is the one asked for.
    bool take(const XmlParse& node)
    {
        trace_step(node, n, counter, test, attribute, value);
        if (!everything() && !node.node_matches(test, attribute, value)) return false;
        ++counter;
        return n == 0 || counter == magnitude(n);
    }
};

}  // namespace

bool XmlParse::node_matches(const char* test, const char* attribute, const char* value) const
{
    if (type == removed) return false;
    if (!blank(test)) {
        if (std::strcmp(test, "#text") == 0) {
            if (type != XmlParse::text && type != cdata) return false;
        } else if (std::strcmp(test, "#pi") == 0) {
            if (type != instruction) return false;
        } else if (std::strcmp(test, "#element") == 0 || std::strcmp(test, "*") == 0) {
            if (type != element) return false;
        } else if (test[0] == '#') {
            return false;  // no other node kinds are named
        } else if (type != element || name != test) {
            return false;
        }
    }
    if (blank(attribute)) return true;
    const string* found = attributes_ ? attributes_->find(attribute) : nullptr;
    return found && (blank(value) || *found == value);
}

XmlParse* XmlParse::find_id(const char* id)
{
    if (type == removed) return nullptr;
    std::vector<Children> pending;
    XmlParse* node = this;
    for (;;) {
        if (xml_debug) {
            std::string line(node->name.c_str(), node->name.length());
            line += std::string(" id(") + (id ? id : "") + ")\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
        const XmlAttributeMap* attributes = node->attributes();
        const string* value = attributes ? attributes->find("id") : nullptr;
        if (value && *value == (id ? id : "")) return node;
        pending.emplace_back(*node, true);
        node = nullptr;
        while (!pending.empty() && !node) {
            XmlParse* child;
            if (!pending.back().next(child)) pending.pop_back();
            else if (child->type != removed) node = child;
        }
        if (!node) return nullptr;
    }
}

XmlParse* XmlParse::nth_child(long n, const char* test, const char* attribute, const char* value)
{
    Search s{n, test, attribute, value};
    Children children(*this, n >= 0);
    XmlParse* child;
    while (children.next(child)) {
        if (child->type == removed) continue;
        if (blank(test) && child->type != element) continue;
        if (s.take(*child)) return child;
    }
    return nullptr;
}

XmlParse* XmlParse::nth_descendant(long n, const char* test, const char* attribute, const char* value)
{
    if (origin_mark) return nullptr;
    Search s{n, test, attribute, value};
    std::vector<Children> pending;
    pending.emplace_back(*this, n >= 0);
    while (!pending.empty()) {
        XmlParse* node;
        if (!pending.back().next(node)) {
            pending.pop_back();
            continue;
        }
        // The node an axis starts from is left out with its subtree.
        if (node->type == removed || node->origin_mark) continue;
        // Without a test only elements are candidates; what lies below
        // other nodes (an external entity's content) is still searched.
        if ((!blank(test) || node->type == element) && s.take(*node)) return node;
        pending.emplace_back(*node, n >= 0);
    }
    return nullptr;
}

XmlParse* XmlParse::nth_following(long n, const char* test, const char* attribute, const char* value)
{
    origin_mark = 1;
    XmlParse* found = (parent ? parent : this)->nth_descendant(n, test, attribute, value);
    origin_mark = 0;
    return found;
}

XmlParse* XmlParse::nth_sibling(long n, const char* test, const char* attribute, const char* value)
{
    return parent ? parent->nth_child(n, test, attribute, value) : nullptr;
}

XmlParse* XmlParse::nth_ancestor(long n, const char* test, const char* attribute, const char* value)
{
    Search s{n, test, attribute, value};
    if (n >= 0) {
        for (XmlParse* a = parent; a; a = a->parent)
            if (a->type != removed && s.take(*a)) return a;
        return nullptr;
    }
    std::vector<XmlParse*> chain;
    for (XmlParse* a = parent; a; a = a->parent) chain.push_back(a);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if ((*it)->type != removed && s.take(**it)) return *it;
    return nullptr;
}
