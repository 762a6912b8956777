// The tavrin program: one engine job with the program's own arguments. The
// report stream appears on standard output and the error stream on standard
// error as they are written; the exit status is the job's result.
#include <cstdio>

#include "engine/engine_main.h"
#include "base/text_stream.h"

int main(int argc, char** argv)
{
    // Nothing reads the streams back here: they are only echoed.
    report_stream.set_sink(stdout, false);
    error_stream.set_sink(stderr, false);
    return engine_main(argc, argv);
}
