// The report and error streams: growable text accumulators, optionally
// echoed live to a FILE as they are written. Every part of the engine
// writes its progress to the report stream and its warnings and failures
// to the error stream.
#pragma once

#include <cstdio>
#include <string>

#include "base/text_string.h"

class TextStream {
public:
    void write(const char* bytes, size_t length);
    void write(const char* text);
    void write(const string& text) { write(text.c_str(), text.length()); }
    void write_number(long long value);

    TextStream& operator<<(const char* text) { write(text); return *this; }
    TextStream& operator<<(const string& text) { write(text); return *this; }
    TextStream& operator<<(int value) { write_number(value); return *this; }
    TextStream& operator<<(long value) { write_number(value); return *this; }
    TextStream& operator<<(long long value) { write_number(value); return *this; }
    TextStream& operator<<(unsigned value) { write_number(value); return *this; }
    TextStream& operator<<(unsigned long value) { write_number(static_cast<long long>(value)); return *this; }

    const std::string& contents() const { return text_; }
    void clear() { text_.clear(); }
    // Live echo target (null for none). The text is still accumulated
    // unless keep is off: a program that only echoes need not hold all it
    // ever wrote (a report of a whole mailbox can be large).
    void set_sink(FILE* sink, bool keep = true)
    {
        sink_ = sink;
        keep_ = keep;
    }
    // Writes out what the live echo target holds.
    void flush()
    {
        if (sink_) std::fflush(sink_);
    }

private:
    std::string text_;
    FILE* sink_ = nullptr;
    bool keep_ = true;
};

extern TextStream report_stream;
extern TextStream error_stream;

// Empties both streams.
void clear_report();
