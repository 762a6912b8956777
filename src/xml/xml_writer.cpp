// Writing a node as indented text, into any sink. The tree is walked with
// an explicit stack of open nodes, so depth costs no call stack.
#include <cstring>
#include <vector>

#include "xml/xml_parse.h"

namespace {

// Levels of indentation written at most: a very deep document would
// otherwise grow with the square of its depth.
constexpr int max_indent = 64;

bool strips_slash(const XmlParse& node)
{
    return node.type == XmlParse::element && node.self_closed && node.name.length() > 0 &&
           node.name.c_str()[node.name.length() - 1] == '/';
}

class Writer {
public:
    Writer(ByteSink& sink, bool references_only) : out_(sink), references_only_(references_only) {}
    void write(XmlParse& top, int indent);

private:
    struct Open {
        XmlParse* node;
        ListIterator<XmlParse*> children;
        int indent;
        bool empty_form;
        bool started = false;
        bool wrote_child = false;
        bool wrote_text = false;
        bool wrote_newline = false;

        Open(XmlParse* n, int i, bool e) : node(n), children(*n), indent(i), empty_form(e) {}
        XmlParse* next_child()
        {
            XmlParse* child;
            for (;;) {
                int got = started ? children.next(child) : children.first(child);
                started = true;
                if (!got) return nullptr;
                if (child->type != XmlParse::removed) return child;
            }
        }
    };

    bool writes_children(XmlParse& node) const;
    // A self-closed element with nothing under it is written as "<name/>".
    static bool empty_form(const XmlParse& node, bool children)
    {
        return node.type == XmlParse::element && node.self_closed && !children;
    }
    void open(const XmlParse& node, int indent, bool empty);
    void close(const XmlParse& node, int indent, bool wrote_child, bool wrote_text, bool empty);
    void put(const char* s) { out_.put(s, std::strlen(s)); }
    void put(const string& s) { out_.put(s.c_str(), s.length()); }
    void put_indent(int indent);
    void put_name(const XmlParse& node);
    void put_escaped(const char* s, size_t n, bool in_attribute);
    void put_attributes(const XmlParse& node);
    void put_cdata(const string& s);

    SinkBuffer out_;
    bool references_only_;
};

bool Writer::writes_children(XmlParse& node) const
{
    // An external entity is written back as its reference; what it was
    // read from stays in its own document.
    if (references_only_ && node.type == XmlParse::external_entity) return false;
    ListIterator<XmlParse*> it(node);
    XmlParse* child;
    for (int more = it.first(child); more; more = it.next(child))
        if (child->type != XmlParse::removed) return true;
    return false;
}

void Writer::put_indent(int indent)
{
    static const char blanks[2 * max_indent + 1] =
        "                                                                "
        "                                                                ";
    if (indent > max_indent) indent = max_indent;
    if (indent > 0) out_.put(blanks, static_cast<size_t>(2 * indent));
}

void Writer::put_name(const XmlParse& node)
{
    size_t n = node.name.length();
    if (strips_slash(node)) --n;
    out_.put(node.name.c_str(), n);
}

void Writer::put_escaped(const char* s, size_t n, bool in_attribute)
{
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        const char* with;
        switch (s[i]) {
        case '&': with = "&amp;"; break;
        case '<': with = "&lt;"; break;
        case '>': with = "&gt;"; break;
        case '"': with = in_attribute ? "&quot;" : nullptr; break;
        case '\'': with = in_attribute ? "&apos;" : nullptr; break;
        default: with = nullptr;
        }
        if (!with) continue;
        out_.put(s + run, i - run);
        put(with);
        run = i + 1;
    }
    out_.put(s + run, n - run);
}

void Writer::put_attributes(const XmlParse& node)
{
    const XmlAttributeMap* a = node.attributes();
    if (!a) return;
    // An XML declaration must begin with its version; the rest go in
    // byte order of their names.
    bool declaration = node.type == XmlParse::instruction && node.name == "?xml";
    size_t first = a->count();
    if (declaration)
        for (size_t i = 0; i < a->count(); ++i)
            if (a->at(i).first == "version") first = i;
    for (size_t k = 0; k <= a->count(); ++k) {
        size_t i;
        if (k == 0) {
            if (first == a->count()) continue;
            i = first;
        } else {
            i = k - 1;
            if (i == first) continue;
        }
        const auto& entry = a->at(i);
        out_.put(' ');
        put_escaped(entry.first.c_str(), entry.first.length(), true);
        put("=\"");
        put_escaped(entry.second.c_str(), entry.second.length(), true);
        out_.put('"');
    }
}

// "]]>" cannot stand inside a section: it is split over two.
void Writer::put_cdata(const string& s)
{
    put("<![CDATA[");
    const char* p = s.c_str();
    size_t left = s.length();
    while (const char* hit = static_cast<const char*>(memmem(p, left, "]]>", 3))) {
        size_t n = static_cast<size_t>(hit - p) + 2;
        out_.put(p, n);
        put("]]><![CDATA[");
        p += n;
        left -= n;
    }
    out_.put(p, left);
    put("]]>");
}

void Writer::open(const XmlParse& node, int indent, bool empty)
{
    if (node.type == XmlParse::text) {
        // Text is stored unescaped: written back escaped, it reads the same.
        put_escaped(node.name.c_str(), node.name.length(), false);
        return;
    }
    put_indent(indent);
    switch (node.type) {
    case XmlParse::cdata: put_cdata(node.name); return;
    case XmlParse::external_entity: put(node.name); return;
    default: break;
    }
    out_.put('<');
    put_name(node);
    put_attributes(node);
    if (node.type == XmlParse::instruction) put("?>");
    else if (empty) put("/>");
    else out_.put('>');
}

void Writer::close(const XmlParse& node, int indent, bool wrote_child, bool wrote_text, bool empty)
{
    if (node.type == XmlParse::text) return;
    if (node.type == XmlParse::element && !empty) {
        if (wrote_child && !wrote_text) put_indent(indent);
        put("</");
        put_name(node);
        out_.put('>');
    }
    out_.put('\n');
}

void Writer::write(XmlParse& top, int indent)
{
    if (top.type == XmlParse::removed) return;
    bool children = writes_children(top);
    bool empty = empty_form(top, children);
    open(top, indent, empty);
    if (!children) {
        close(top, indent, false, false, empty);
        return;
    }
    std::vector<Open> stack;
    stack.emplace_back(&top, indent, empty);
    while (!stack.empty()) {
        Open& o = stack.back();
        XmlParse* child = o.next_child();
        if (!child) {
            close(*o.node, o.indent, o.wrote_child, o.wrote_text, o.empty_form);
            stack.pop_back();
            continue;
        }
        bool is_text = child->type == XmlParse::text;
        if (!is_text && !o.wrote_newline) {
            out_.put('\n');
            o.wrote_newline = true;
        }
        o.wrote_child = true;
        if (is_text) o.wrote_text = true;
        int child_indent = o.node->type == XmlParse::element ? o.indent + 1 : o.indent;
        bool grand_children = writes_children(*child);
        bool child_empty = empty_form(*child, grand_children);
        open(*child, child_indent, child_empty);
        if (grand_children) stack.emplace_back(child, child_indent, child_empty);  // o is not used after this
        else close(*child, child_indent, false, false, child_empty);
    }
}

}  // namespace

void XmlParse::serialize_to(ByteSink& sink, int indent, bool references_only)
{
    Writer w(sink, references_only);
    w.write(*this, indent);
}

string XmlParse::serialize(int indent, bool references_only)
{
    MemorySink sink;
    serialize_to(sink, indent, references_only);
    return string(sink.bytes().data(), sink.length());
}
