// The engine's own byte string: a handle on a shared, reference-counted record.
// Every change builds a new record sized exactly, so a value never changes
// under another handle. Lives in the global namespace on purpose.
#pragma once

#include <cstddef>
#include <cstdint>

class string {
public:
    string();
    string(char c);
    string(const char* text);
    string(const char* bytes, size_t length);
    string(const string& other);
    string(const string& from, size_t position, size_t count);
    ~string();

    string& operator=(char c);
    string& operator=(const char* text);
    string& operator=(const string& other);

    string& append(char c);
    string& append(const char* text);
    string& append(const string& other);
    string& operator+=(char c) { return append(c); }
    string& operator+=(const char* text) { return append(text); }
    string& operator+=(const string& other) { return append(other); }

    string operator+(char c) const;
    string operator+(const char* text) const;
    string operator+(const string& other) const;

    string substr(size_t position, size_t count) const { return string(*this, position, count); }
    void pad_to(size_t n, char c);
    void rtrim_char(char c);
    void to_lower();
    string replace_char(char from, char to) const;
    string replace_all(const char* find, const char* with) const;

    bool operator==(const char* text) const;
    bool operator==(const string& other) const;
    bool operator!=(const char* text) const { return !(*this == text); }
    bool operator!=(const string& other) const { return !(*this == other); }
    bool operator<(const string& other) const;
    bool equals_nocase(const char* text) const;
    bool prefix_equals_nocase(const char* text, size_t n) const;

    // Index of the last byte equal to c at or before position, or -1.
    long rfind_char(char c, size_t position) const;

    // printf into a 1024-byte area; a longer result is cut at 1023 bytes.
    // Returns the number of bytes kept.
    int format(const char* pattern, ...) __attribute__((format(printf, 2, 3)));

    char char_at(size_t index) const;
    const char* c_str() const { return rep_->data; }
    const char* c_str(size_t offset) const { return rep_->data + (offset < rep_->length ? offset : rep_->length); }
    size_t length() const { return rep_->length; }
    bool empty() const { return rep_->length == 0; }
    void clear();

    static constexpr size_t format_capacity = 1024;

private:
    struct Rep {
        int32_t refs;
        uint32_t reserved;
        uint64_t length;
        char* data;
    };
    static Rep* make_rep(const char* a, size_t na, const char* b = nullptr, size_t nb = 0,
                         uint32_t reserved = 0);
    static void release(Rep* rep);
    void replace_rep(Rep* fresh);

    Rep* rep_;
};

string operator+(const char* text, const string& s);

// First position in haystack where needle matches ignoring case, or null.
const char* find_nocase(const char* haystack, const char* needle);
