// The list server's subscriber list: the "-tolist:" file as a sequence of
// entries, one address each, and the file written back.
//
// An entry that begins with '#' followed by an address is a subscriber who
// left (or whose mail failed); any other line that begins with '#' or '\\',
// and an empty line, is kept as it is and never taken for an address. A
// line with several addresses separated by commas gives one entry each.
// Addresses are compared as addresses (the part inside <...>, without case),
// never as pieces of text, so "ann@x" is not found in "joann@x" and "#ann@x".
// Lines of any length are read whole.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class SubscriberList {
public:
    enum class Kind { subscriber, unsubscribed, other };
    struct Entry {
        std::string text;  // as written in the file (without its line end)
        Kind kind;
    };

    // A file that is not there is an empty list; false when the file is
    // there but cannot be read (then the list is empty, and must not be
    // written back over the file).
    bool read(const char* path);
    void parse(const char* text, size_t length);

    bool is_subscriber(const std::string& address) const;
    // True when the list changed: an entry "#address" became "address", or
    // the address was added at the end. An address that is already a
    // subscriber changes nothing.
    bool subscribe(const std::string& address);
    // True when the list changed: every subscriber entry of the address
    // became '#' + the entry.
    bool unsubscribe(const std::string& address);

    // The addresses of the subscribers, joined with ',', leaving out the
    // address except (the list's own, so a copy never comes back to it).
    std::string recipients(const std::string& except) const;
    // The file's new contents: every entry and kept line, each followed by
    // CR LF.
    std::string file_text() const;

    const std::vector<Entry>& entries() const { return entries_; }

private:
    void add_line(std::string line);
    std::vector<Entry> entries_;
};

// The address an entry stands for: the text inside <...>, else the text
// before a (comment), else the entry; without surrounding blanks.
std::string entry_address(const std::string& entry);

// Writes the list to path so that the old file stays whole until the new
// one is complete; false with the reason on the error stream.
bool write_list_file(const SubscriberList& list, const char* path);
