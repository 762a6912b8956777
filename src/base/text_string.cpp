#include "base/text_string.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/nocase.h"

// The record and its bytes are one block: one allocation per text, not two.
string::Rep* string::make_rep(const char* a, size_t na, const char* b, size_t nb, uint32_t reserved)
{
    void* block = ::operator new(sizeof(Rep) + na + nb + 1);
    Rep* rep = new (block) Rep;
    char* data = reinterpret_cast<char*>(rep + 1);
    if (na) std::memcpy(data, a, na);
    if (nb && b) std::memcpy(data + na, b, nb);  // a null b leaves room to fill
    data[na + nb] = 0;
    rep->refs = 1;
    rep->reserved = reserved;
    rep->length = na + nb;
    rep->data = data;
    return rep;
}

void string::release(Rep* rep)
{
    if (--rep->refs == 0) ::operator delete(rep);
}

void string::replace_rep(Rep* fresh)
{
    Rep* old = rep_;
    rep_ = fresh;
    release(old);
}

string::string() : rep_(make_rep(nullptr, 0)) {}

string::string(char c) : rep_(make_rep(&c, 1)) {}

string::string(const char* text) : rep_(make_rep(text, text ? std::strlen(text) : 0)) {}

string::string(const char* bytes, size_t length) : rep_(make_rep(bytes, bytes ? length : 0)) {}

string::string(const string& other) : rep_(other.rep_) { ++rep_->refs; }

string::string(const string& from, size_t position, size_t count)
{
    size_t len = from.rep_->length;
    size_t start = position < len ? position : len;
    if (count > len - start) count = len - start;
    rep_ = make_rep(from.rep_->data + start, count);
}

string::~string() { release(rep_); }

string& string::operator=(char c)
{
    replace_rep(make_rep(&c, 1, nullptr, 0, rep_->reserved));
    return *this;
}

string& string::operator=(const char* text)
{
    replace_rep(make_rep(text, text ? std::strlen(text) : 0, nullptr, 0, rep_->reserved));
    return *this;
}

string& string::operator=(const string& other)
{
    if (other.rep_ == rep_) return *this;
    ++other.rep_->refs;
    release(rep_);
    rep_ = other.rep_;
    return *this;
}

string& string::append(char c)
{
    replace_rep(make_rep(rep_->data, rep_->length, &c, 1, rep_->reserved));
    return *this;
}

string& string::append(const char* text)
{
    replace_rep(make_rep(rep_->data, rep_->length, text, text ? std::strlen(text) : 0, rep_->reserved));
    return *this;
}

string& string::append(const string& other)
{
    replace_rep(make_rep(rep_->data, rep_->length, other.rep_->data, other.rep_->length, rep_->reserved));
    return *this;
}

string string::operator+(char c) const
{
    string r(*this);
    return r.append(c);
}

string string::operator+(const char* text) const
{
    string r(*this);
    return r.append(text);
}

string string::operator+(const string& other) const
{
    string r(*this);
    return r.append(other);
}

string operator+(const char* text, const string& s)
{
    string r(text);
    return r.append(s);
}

void string::pad_to(size_t n, char c)
{
    size_t len = rep_->length;
    if (len >= n) return;
    Rep* fresh = make_rep(rep_->data, len, nullptr, n - len, rep_->reserved);
    std::memset(fresh->data + len, static_cast<unsigned char>(c), n - len);
    replace_rep(fresh);
}

void string::rtrim_char(char c)
{
    size_t len = rep_->length;
    while (len > 0 && rep_->data[len - 1] == c) --len;
    if (len != rep_->length) replace_rep(make_rep(rep_->data, len, nullptr, 0, rep_->reserved));
}

void string::to_lower()
{
    if (rep_->refs > 1) replace_rep(make_rep(rep_->data, rep_->length, nullptr, 0, rep_->reserved));
    for (size_t i = 0; i < rep_->length; ++i)
        rep_->data[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(rep_->data[i])));
}

string string::replace_char(char from, char to) const
{
    string r(rep_->data, rep_->length);
    for (size_t i = 0; i < r.rep_->length; ++i)
        if (r.rep_->data[i] == from) r.rep_->data[i] = to;
    return r;
}

string string::replace_all(const char* find, const char* with) const
{
    if (!find || !*find || !with) return string(rep_->data, rep_->length);
    size_t nf = std::strlen(find), nw = std::strlen(with);
    const char* text = rep_->data;
    size_t len = rep_->length;
    // Count first so the result is built in one allocation.
    size_t hits = 0;
    for (size_t i = 0; i + nf <= len;) {
        if (std::memcmp(text + i, find, nf) == 0) {
            ++hits;
            i += nf;
        } else {
            ++i;
        }
    }
    if (hits == 0) return string(text, len);
    size_t out_len = len - hits * nf + hits * nw;
    char* out = new char[out_len + 1];
    size_t o = 0;
    for (size_t i = 0; i < len;) {
        if (i + nf <= len && std::memcmp(text + i, find, nf) == 0) {
            std::memcpy(out + o, with, nw);
            o += nw;
            i += nf;
        } else {
            out[o++] = text[i++];
        }
    }
    string r(out, out_len);
    delete[] out;
    return r;
}

bool string::operator==(const char* text) const
{
    if (!text) return false;
    return std::strcmp(rep_->data, text) == 0;
}

bool string::operator==(const string& other) const
{
    if (other.rep_ == rep_) return true;
    return std::strcmp(rep_->data, other.rep_->data) == 0;
}

bool string::operator<(const string& other) const { return std::strcmp(rep_->data, other.rep_->data) < 0; }

bool string::equals_nocase(const char* text) const
{
    return text && nocase_compare(rep_->data, text) == 0;
}

bool string::prefix_equals_nocase(const char* text, size_t n) const
{
    return text && nocase_compare_n(rep_->data, text, n) == 0;
}

long string::rfind_char(char c, size_t position) const
{
    size_t len = rep_->length;
    if (position > len) return -1;
    // An empty string starts at its terminator, as the scan always did.
    size_t start = (len == 0) ? 0 : (position < len - 1 ? position : len - 1);
    for (size_t i = start + 1; i-- > 0;)
        if (rep_->data[i] == c) return static_cast<long>(i);
    return -1;
}

int string::format(const char* pattern, ...)
{
    char buffer[format_capacity];
    va_list args;
    va_start(args, pattern);
    int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
    va_end(args);
    if (n < 0) n = 0, buffer[0] = 0;
    if (n > static_cast<int>(format_capacity - 1)) n = format_capacity - 1;
    replace_rep(make_rep(buffer, static_cast<size_t>(n), nullptr, 0, rep_->reserved));
    return n;
}

char string::char_at(size_t index) const { return index < rep_->length ? rep_->data[index] : 0; }

void string::clear()
{
    if (rep_->length == 0) return;
    replace_rep(make_rep(nullptr, 0, nullptr, 0, rep_->reserved));
}

const char* find_nocase(const char* haystack, const char* needle)
{
    if (!haystack || !needle || !*haystack) return nullptr;
    size_t n = std::strlen(needle);
    for (const char* p = haystack; *p; ++p)
        if (nocase_compare_n(p, needle, n) == 0) return p;
    return nullptr;
}
