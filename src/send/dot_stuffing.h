// The wire form of a message whose end is a line holding "." (SMTP, news):
// a '.' that begins a line is doubled, and every line end becomes CR LF (a
// bare CR or a bare LF too, so "\r.\r" can never pass for an end). Without
// line-end repair it only doubles the dots, as message files want them.
#pragma once

#include <cstddef>

#include "base/byte_sink.h"

class DotStuffingSink : public ByteSink {
public:
    explicit DotStuffingSink(ByteSink& next, bool repair_line_ends = true)
        : next_(next), repair_(repair_line_ends)
    {
    }
    void write(const char* data, size_t length) override;
    void write_clean_lines(const char* data, size_t length) override;
    // Ends a last line that has no line end (repairing sinks only), so the
    // next byte written starts a line.
    void finish();

private:
    ByteSink& next_;
    bool repair_;
    bool line_start_ = true;
    bool pending_cr_ = false;  // a CR whose LF may come in the next write
};
