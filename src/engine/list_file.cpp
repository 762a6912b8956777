#include "engine/list_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/text_stream.h"
#include "platform/file_replace.h"
#include "platform/nocase.h"
#include "platform/paths.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string trimmed(const std::string& text)
{
    size_t start = 0, end = text.size();
    while (start < end && blank(text[start])) ++start;
    while (end > start && blank(text[end - 1])) --end;
    return text.substr(start, end - start);
}

// The entries of a line: split at the commas that are not inside a quoted
// part, a (comment) or <...>.
std::vector<std::string> split_entries(const std::string& line)
{
    std::vector<std::string> parts;
    bool quoted = false, bracketed = false;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size()) ++i;
            else if (c == '"') quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            --depth;
        } else if (c == '<' && depth == 0) {
            bracketed = true;
        } else if (c == '>') {
            bracketed = false;
        } else if (c == ',' && depth == 0 && !bracketed) {
            parts.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(line.substr(start));
    return parts;
}

bool has_control(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

bool same_address(const std::string& a, const std::string& b)
{
    return !a.empty() && a.size() == b.size() && nocase_compare_n(a.data(), b.data(), a.size()) == 0 &&
           a.find('\0') == std::string::npos;
}

// "#address": the rest is one entry whose address has an '@' and no blank.
bool is_unsubscribed_line(const std::string& line)
{
    if (line.size() < 2 || line[0] != '#' || blank(line[1]) || line[1] == '#') return false;
    std::string rest = line.substr(1);
    if (split_entries(rest).size() != 1) return false;
    std::string address = entry_address(rest);
    return address.find('@') != std::string::npos && address.find_first_of(" \t") == std::string::npos;
}

// What a line of the file is read as.
SubscriberList::Kind kind_of_line(const std::string& line)
{
    using Kind = SubscriberList::Kind;
    if (line.empty() || line[0] == '\\' || line[0] == '\r' || trimmed(line).empty()) return Kind::other;
    if (line[0] == '#') return is_unsubscribed_line(line) ? Kind::unsubscribed : Kind::other;
    return Kind::subscriber;
}

}  // namespace

std::string entry_address(const std::string& entry)
{
    size_t open = entry.find('<');
    if (open != std::string::npos) {
        size_t close = entry.find('>', open + 1);
        return trimmed(entry.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1));
    }
    size_t paren = entry.find('(');
    return trimmed(paren == std::string::npos ? entry : entry.substr(0, paren));
}

bool SubscriberList::read(const char* path)
{
    entries_.clear();
    if (!path || !*path || !file_exists(path)) return true;
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::string text;
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, n);
    bool whole = !std::ferror(f);
    std::fclose(f);
    if (!whole) return false;
    parse(text.data(), text.size());
    return true;
}

void SubscriberList::parse(const char* text, size_t length)
{
    entries_.clear();
    size_t at = 0;
    while (at < length) {
        const char* lf = static_cast<const char*>(std::memchr(text + at, '\n', length - at));
        size_t end = lf ? static_cast<size_t>(lf - text) : length;
        std::string line(text + at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        add_line(std::move(line));
        at = end + 1;
    }
}

void SubscriberList::add_line(std::string line)
{
    Kind kind = kind_of_line(line);
    std::vector<std::string> parts;
    if (kind == Kind::subscriber) parts = split_entries(line);
    if (parts.size() <= 1) {
        entries_.push_back({std::move(line), kind});
        return;
    }
    // Each entry becomes a line of its own when the list is written, and
    // is taken now for what it will be read as then.
    for (const std::string& part : parts) {
        std::string entry = trimmed(part);
        if (!entry.empty()) entries_.push_back({entry, kind_of_line(entry)});
    }
}

bool SubscriberList::is_subscriber(const std::string& address) const
{
    for (const Entry& e : entries_)
        if (e.kind == Kind::subscriber && same_address(entry_address(e.text), address)) return true;
    return false;
}

bool SubscriberList::subscribe(const std::string& address)
{
    if (address.empty() || is_subscriber(address)) return false;
    for (Entry& e : entries_) {
        if (e.kind == Kind::unsubscribed && same_address(entry_address(e.text.substr(1)), address)) {
            e.text.erase(0, 1);
            e.kind = Kind::subscriber;
            return true;
        }
    }
    entries_.push_back({address, Kind::subscriber});
    return true;
}

bool SubscriberList::unsubscribe(const std::string& address)
{
    bool changed = false;
    for (Entry& e : entries_) {
        if (e.kind != Kind::subscriber || !same_address(entry_address(e.text), address)) continue;
        // Without leading blanks: "# x" would read back as a comment.
        e.text = "#" + trimmed(e.text);
        e.kind = Kind::unsubscribed;
        changed = true;
    }
    return changed;
}

std::string SubscriberList::recipients(const std::string& except) const
{
    std::string joined;
    for (const Entry& e : entries_) {
        if (e.kind != Kind::subscriber) continue;
        std::string address = entry_address(e.text);
        if (address.empty() || same_address(address, except) || has_control(address)) continue;
        if (!joined.empty()) joined.push_back(',');
        joined += address;
    }
    return joined;
}

std::string SubscriberList::file_text() const
{
    std::string text;
    for (const Entry& e : entries_) {
        text += e.text;
        text += "\r\n";
    }
    return text;
}

bool write_list_file(const SubscriberList& list, const char* path)
{
    std::string text = list.file_text(), reason;
    if (replace_file(path, text.data(), text.size(), reason)) return true;
    error_stream << "Could not write list file: '" << path << "': " << reason.c_str() << "\r\n";
    return false;
}
