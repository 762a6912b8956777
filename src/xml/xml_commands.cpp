#include "xml/xml_commands.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/byte_sink.h"
#include "base/text_stream.h"
#include "base/text_utils.h"
#include "engine/option_state.h"
#include "platform/paths.h"
#include "xml/xml_parse.h"

namespace {

struct Session {
    XmlParse root;
    XmlParse* current = nullptr;
    bool modified = false;
    bool save = false;
    string file;
};

// n, node test, attribute name and value after the keyword, ':' apart.
struct Spec {
    long n = 0;
    char test[256] = "";
    char attribute[256] = "";
    char value[256] = "";
};

Spec read_spec(const char* arg)
{
    Spec s;
    char number[256] = "";
    std::sscanf(arg, "%*[^:]:%255[^:]:%255[^:]:%255[^:]:%255s", number, s.test, s.attribute, s.value);
    s.n = std::strtol(number, nullptr, 10);
    if (s.n == LONG_MIN) s.n = -LONG_MAX;  // so that a backward search may negate it
    return s;
}

// The word after the first ':', through unquote.
string read_word(const char* arg)
{
    char word[256] = "";
    std::sscanf(arg, "%*[^:]:%255s", word);
    return unquote(word);
}

using Axis = XmlParse* (XmlParse::*)(long, const char*, const char*, const char*);

void navigate(Session& s, const char* arg, Axis axis, long sign)
{
    Spec spec = read_spec(arg);
    if (s.current) s.current = (s.current->*axis)(sign * spec.n, spec.test, spec.attribute, spec.value);
}

void debug(Session&, const char*) { xml_debug = true; }

void save_as(Session& s, const char* arg)
{
    s.file = unquote(arg + 6, '"');
    s.save = true;
}

void save(Session& s, const char*) { s.save = true; }

void drop(Session& s, const char*)
{
    s.current->drop_node();
    s.modified = true;
}

void rename(Session& s, const char* arg)
{
    string word = read_word(arg);
    s.current->name = word;  // an element's name, a text node's text
    s.modified = true;
}

void add(Session& s, const char* arg)
{
    std::unique_ptr<XmlParse> doc(new XmlParse);
    string word = read_word(arg);
    doc->parse_document(word);
    s.current->add_child(doc.release());
    s.modified = true;
}

void root(Session& s, const char*)
{
    if (s.current) s.current = s.current->nth_descendant(1, "#element", "", "");
}

void id(Session& s, const char* arg)
{
    if (s.current) s.current = s.current->find_id(unquote(arg + 4).c_str());
}

void child(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_child, 1); }
void descendant(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_descendant, 1); }
void following(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_following, 1); }
void fsibling(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_sibling, 1); }
void psibling(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_sibling, -1); }
void ancestor(Session& s, const char* arg) { navigate(s, arg, &XmlParse::nth_ancestor, 1); }

void preceding(Session& s, const char* arg)
{
    read_spec(arg);
    s.current = nullptr;
}

struct Command {
    const char* keyword;  // ending in ':': a prefix; else the whole argument
    bool needs_node;      // ignored when there is no current node
    void (*run)(Session& s, const char* arg);
};

const Command commands[] = {
    {"-dbg", false, debug},
    {"-save:", true, save_as},
    {"-save", true, save},
    {"-drop", true, drop},
    {"-set:", true, rename},
    {"-add:", true, add},
    {"-root", false, root},
    {"-id:", false, id},
    {"-child:", false, child},
    {"-descendant:", false, descendant},
    {"-following:", false, following},
    {"-preceding:", false, preceding},
    {"-fsibling:", false, fsibling},
    {"-psibling:", false, psibling},
    {"-ancestor:", false, ancestor},
};

const Command* find_command(const char* arg)
{
    for (const Command& c : commands) {
        size_t n = std::strlen(c.keyword);
        bool prefix = c.keyword[n - 1] == ':';
        if (prefix ? std::strncmp(arg, c.keyword, n) == 0 : std::strcmp(arg, c.keyword) == 0) return &c;
    }
    return nullptr;
}

// The whole file in one block (its size read first, so it is not grown
// piece by piece); false when it cannot be opened.
bool read_document(const char* path, std::unique_ptr<char[]>& data, size_t& length)
{
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    int64_t size = file_size(path);
    size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
    data.reset(new char[capacity + 1]);
    length = 0;
    for (;;) {
        if (length == capacity) {  // larger than it said (or a pipe): double
            size_t bigger = capacity ? capacity * 2 : 65536;
            std::unique_ptr<char[]> grown(new char[bigger + 1]);
            std::memcpy(grown.get(), data.get(), length);
            data.swap(grown);
            capacity = bigger;
        }
        size_t n = std::fread(data.get() + length, 1, capacity - length, f);
        if (n == 0) break;
        length += n;
    }
    std::fclose(f);
    return true;
}

void write_out(XmlParse& node)
{
    FileSink out(stdout);
    node.serialize_to(out, 0, false);
    out.flush();
}

// The edited document replaces the file; the old one is kept as ".BAK".
// External entities are written as their references, so the document
// keeps referring to them rather than taking in their content.
void save_document(Session& s)
{
    string backup = s.file + ".BAK";
    if (file_exists(backup.c_str())) remove_file(backup.c_str());
    std::rename(s.file.c_str(), backup.c_str());
    FILE* f = std::fopen(s.file.c_str(), "wb");
    if (!f) return;  // not reported: the previous version is in the backup
    FileSink out(f);
    s.root.serialize_to(out, 0, true);
    out.flush();
    std::fclose(f);
}

}  // namespace

int xml_commands(int argc, const char* const* argv)
{
    Session s;
    s.file = options().file;
    std::unique_ptr<char[]> data;
    size_t length = 0;
    if (!read_document(s.file.c_str(), data, length)) {
        std::fprintf(stderr, "File '%s' not found\n", s.file.c_str());
        return 1;
    }
    XmlEntityPolicy policy;
    policy.http_timeout = process_state().timeout;  // "-tmo:"
    s.root.parse_document(data.get(), length, policy);
    data.reset();  // the tree holds all it needs

    s.current = &s.root;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i] ? argv[i] : "";
        const Command* c = find_command(arg);
        if (!c || (c->needs_node && !s.current)) continue;
        c->run(s, arg);
    }

    if (s.modified && s.save) save_document(s);
    else if (s.modified) write_out(s.root);
    else if (s.current) write_out(*s.current);
    else report_stream << "NOT FOUND\r\n";
    return 0;
}
