// Text with CR LF line ends, made piece by piece: a CR LF pair stays, a
// bare LF gets its CR, and a CR at the end of one piece waits for the first
// byte of the next (so a pair split between pieces stays one pair).
#pragma once

#include <cstddef>
#include <string>

class CrlfLines {
public:
    // Appends the converted piece to out.
    void convert(const char* data, size_t length, std::string& out)
    {
        out.reserve(out.size() + length + length / 16 + 1);
        for (size_t i = 0; i < length; ++i) {
            char c = data[i];
            if (pending_cr_) {
                pending_cr_ = false;
                if (c != '\n') out.push_back('\r');
            }
            if (c == '\r') {
                pending_cr_ = true;
                continue;
            }
            if (c == '\n') out.push_back('\r');
            out.push_back(c);
        }
    }
    // The CR the last piece ended with, if any.
    void finish(std::string& out)
    {
        if (pending_cr_) out.push_back('\r');
        pending_cr_ = false;
    }

private:
    bool pending_cr_ = false;
};
