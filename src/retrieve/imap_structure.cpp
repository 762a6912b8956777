#include "retrieve/imap_structure.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t max_parts = 10000;
constexpr int max_level = 255;       // counters[0..max_level] in the numbering
constexpr size_t number_width = 63;  // a size or line count is read from this many bytes

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_nil(const string& token) { return token.equals_nocase("NIL"); }

// From an opening quote to the closing one, or to the end of the text when
// the string is not closed.
const char* closing_quote(const char* p)
{
    for (++p; *p && *p != '"'; ++p)
        if (*p == '\\' && p[1]) ++p;
    return p;
}

const char* behind_quoted(const char* p)
{
    p = closing_quote(p);
    return *p ? p + 1 : p;
}

double number_of(const string& token)
{
    char digits[number_width + 1];
    size_t n = token.length() < number_width ? token.length() : number_width;
    std::memcpy(digits, token.c_str(), n);
    digits[n] = 0;
    return std::atof(digits);
}

// Walks a structure text and counts the parentheses it is inside. Every
// operation moves forward only, so a whole parse reads each byte a bounded
// number of times.
class Cursor {
public:
    explicit Cursor(const char* text) : p_(text) {}

    const char* position() const { return p_; }
    int32_t depth() const { return depth_; }

    void skip_blanks()
    {
        while (blank(*p_)) ++p_;
    }
    // After blanks: at ')' or the end of the text.
    bool at_close()
    {
        skip_blanks();
        return *p_ == 0 || *p_ == ')';
    }
    bool at_open()
    {
        skip_blanks();
        return *p_ == '(';
    }
    void open()
    {
        ++p_;
        if (depth_ < INT32_MAX) ++depth_;
    }
    void close()
    {
        ++p_;
        if (depth_ > 0) --depth_;
    }

    // Passes blanks and '(', then reads a quoted string (without its quotes
    // and escapes) or an atom up to a blank or a parenthesis, and the blanks
    // behind it. At ')' or the end the token is empty and nothing moves.
    string read_token()
    {
        for (;; ++p_) {
            if (*p_ == '(') {
                if (depth_ < INT32_MAX) ++depth_;
            } else if (!blank(*p_)) {
                break;
            }
        }
        string token;
        const char* begin = p_;
        if (*p_ == '"') {
            const char* end = closing_quote(p_);
            token = unescaped(begin + 1, end);
            p_ = *end ? end + 1 : end;
        } else {
            while (*p_ && !blank(*p_) && *p_ != '(' && *p_ != ')') ++p_;
            token = string(begin, static_cast<size_t>(p_ - begin));
        }
        skip_blanks();
        return token;
    }

    // One item of a list: a parenthesized group with everything in it, or
    // a token. Nothing at ')' or the end.
    void skip_item()
    {
        skip_blanks();
        if (*p_ == '(') skip_group();
        else if (*p_ && *p_ != ')') read_token();
    }

    // Items up to the ')' that closes the list the cursor is in (not read).
    void skip_to_close()
    {
        while (!at_close()) skip_item();
    }

    // The rest of the list the cursor is in, with its ')'.
    void finish_list()
    {
        skip_to_close();
        if (*p_ == ')') close();
    }

    // Closing parentheses, while the outer list is still open.
    void close_all()
    {
        while (depth_ > 0 && at_close() && *p_ == ')') close();
    }

private:
    // From '(' to behind the ')' that balances it; the depth stays.
    void skip_group()
    {
        size_t open = 0;
        while (*p_) {
            if (*p_ == '"') {
                p_ = behind_quoted(p_);
                continue;
            }
            if (*p_ == '(') ++open;
            else if (*p_ == ')') --open;
            ++p_;
            if (open == 0) return;
        }
    }

    static string unescaped(const char* begin, const char* end)
    {
        const char* escape = static_cast<const char*>(std::memchr(begin, '\\', static_cast<size_t>(end - begin)));
        if (!escape) return string(begin, static_cast<size_t>(end - begin));
        std::string raw(begin, escape);
        for (const char* q = escape; q < end; ++q) {
            if (*q == '\\' && q + 1 < end) ++q;
            raw += *q;
        }
        return string(raw.data(), raw.size());
    }

    const char* p_;
    int32_t depth_ = 0;
};

// A part as the reading finds it, in the order the text closes the parts:
// the parts of a multipart before the multipart itself.
struct Entry {
    imap_part part;
    bool multipart = false;
};

// ("ATTACHMENT" ("FILENAME" "a.pdf" ...)) or ("INLINE" NIL); only the first
// parameter pair is looked at.
void read_disposition(Cursor& cursor, imap_part& part)
{
    cursor.open();
    part.disposition = cursor.read_token();
    if (cursor.at_open()) {
        cursor.open();
        string attribute = cursor.read_token();
        string value = cursor.read_token();
        if (attribute.equals_nocase("filename")) part.filename = value;
        cursor.finish_list();
    }
    cursor.finish_list();
}

// One part that is not a multipart, up to and with its closing ')':
//   type subtype params id description encoding size
//   [lines | envelope body lines] md5 disposition language location ...
void read_leaf(Cursor& cursor, std::vector<Entry>& work)
{
    Entry entry;
    imap_part& part = entry.part;
    string type = cursor.read_token();
    string subtype = cursor.read_token();
    part.content_type = type + "/" + subtype;

    if (cursor.at_open()) {
        cursor.open();
        string attribute = cursor.read_token();
        string value = cursor.read_token();
        if (attribute.equals_nocase("charset")) part.charset = value;
        else if (attribute.equals_nocase("name")) part.name = value;
        else if (attribute.equals_nocase("type")) part.type = value;
        cursor.finish_list();
    } else {
        cursor.skip_item();  // NIL
    }

    string token = cursor.read_token();
    if (!is_nil(token)) part.content_id = token;
    token = cursor.read_token();
    if (!is_nil(token)) part.description = token;
    part.encoding = cursor.read_token();
    part.size = number_of(cursor.read_token());

    // An attached message carries its envelope and body structure before its
    // line count; without an envelope list it is read like any other part.
    bool message = type.equals_nocase("MESSAGE") &&
                   (subtype.equals_nocase("RFC822") || subtype.equals_nocase("GLOBAL")) && cursor.at_open();
    if (type.equals_nocase("TEXT")) {
        part.lines = number_of(cursor.read_token());
    } else if (message) {
        cursor.skip_item();  // envelope
        cursor.skip_item();  // the inner body structure
        part.lines = number_of(cursor.read_token());
    }

    // Extension data: MD5, disposition, then language, location and more.
    cursor.skip_item();
    if (cursor.at_open()) read_disposition(cursor, part);
    else cursor.skip_item();
    cursor.skip_to_close();

    part.depth = cursor.depth();
    work.push_back(entry);
    if (cursor.at_close() && *cursor.position() == ')') cursor.close();
}

// The subtypes of the multiparts that end here, each after the ')' of its
// last part: "ALTERNATIVE" ("BOUNDARY" "x") NIL NIL) "MIXED" ...
void read_multiparts(Cursor& cursor, std::vector<Entry>& work)
{
    while (work.size() < max_parts && cursor.depth() > 0 && !cursor.at_close() && !cursor.at_open()) {
        Entry entry;
        entry.multipart = true;
        entry.part.content_type = string("MULTIPART/") + cursor.read_token();
        entry.part.depth = cursor.depth();
        work.push_back(entry);
        cursor.skip_to_close();  // parameters, disposition, language, location
        cursor.close_all();
    }
}

// The reading lists each multipart behind its parts; this gives the order of
// the message, each multipart directly in front of its own parts. A
// multipart's parts are the subtrees read just before it that lie deeper
// than it does.
std::vector<size_t> message_order(const std::vector<Entry>& work)
{
    constexpr size_t none = SIZE_MAX;
    size_t n = work.size();
    std::vector<size_t> first_child(n, none), next_sibling(n, none), parent(n, none);
    std::vector<size_t> roots;  // subtrees read so far whose multipart has not come yet
    for (size_t i = 0; i < n; ++i) {
        if (!work[i].multipart) {
            roots.push_back(i);
            continue;
        }
        size_t child = none;
        while (!roots.empty() && work[roots.back()].part.depth > work[i].part.depth) {
            size_t c = roots.back();
            roots.pop_back();
            next_sibling[c] = child;
            parent[c] = i;
            child = c;
        }
        if (child == none) continue;  // no parts of its own
        first_child[i] = child;
        roots.push_back(i);
    }

    std::vector<size_t> order;
    order.reserve(n);
    for (size_t root : roots) {
        size_t i = root;
        for (;;) {
            order.push_back(i);
            if (first_child[i] != none) {
                i = first_child[i];
                continue;
            }
            while (i != root && next_sibling[i] == none) i = parent[i];
            if (i == root) break;
            i = next_sibling[i];
        }
    }
    return order;
}

// Numbers the parts in message order: the parts of the top multipart are
// 1, 2, ...; those of a multipart numbered N are N.1, N.2, ...
void number_parts(std::vector<Entry>& work, const std::vector<size_t>& order, List<imap_part>& parts)
{
    int counters[max_level + 1] = {};
    int level = 0;
    int64_t open = 0;  // depth of the innermost multipart that opened a level
    char number[(max_level + 1) * 12];
    for (size_t i : order) {
        Entry& entry = work[i];
        imap_part& part = entry.part;
        if (part.depth <= open) {
            int64_t pops = open - part.depth + 1;
            open -= pops;
            for (; pops > 0 && level > 0; --pops) ++counters[--level];
        }

        size_t length = 0;
        for (int k = 0; k <= level; ++k) {
            if (counters[k] == 0) continue;
            if (k > 0) number[length++] = '.';
            int wrote = std::snprintf(number + length, sizeof number - length, "%d", counters[k]);
            if (wrote > 0) length += static_cast<size_t>(wrote);
        }
        if (length == 0) part.part_number = entry.multipart && counters[0] == 0 ? "TEXT" : "1";
        else part.part_number = string(number, length);
        parts.add(part);

        if (entry.multipart && counters[0] != 0 && level < max_level) {
            ++level;
            counters[level] = 1;
            open = part.depth;
        } else {
            ++counters[level];  // a leaf, the top multipart, or nesting past the bound
        }
    }
}

}  // namespace

void parse_structure(const char* text, List<imap_part>& parts)
{
    parts.clear();
    if (!text) return;
    std::vector<Entry> work;
    Cursor cursor(text);
    while (*cursor.position() && work.size() < max_parts) {
        const char* start = cursor.position();
        read_leaf(cursor, work);
        read_multiparts(cursor, work);
        cursor.close_all();
        if (cursor.depth() == 0 || cursor.position() == start) break;  // the outer list is closed
    }
    number_parts(work, message_order(work), parts);
}

string structure_text_of(const char* line)
{
    const char* key = find_nocase(line, "BODYSTRUCTURE");
    if (!key) return string();
    const char* begin = std::strchr(key + std::strlen("BODYSTRUCTURE"), '(');
    if (!begin) return string();
    size_t open = 0;
    for (const char* p = begin; *p;) {
        if (*p == '"') {
            p = behind_quoted(p);
            continue;
        }
        if (*p == '(') ++open;
        else if (*p == ')' && --open == 0) return string(begin, static_cast<size_t>(p + 1 - begin));
        ++p;
    }
    return string();
}
