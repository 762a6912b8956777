// The tavrin program: one engine job with the program's own arguments. The
// report stream appears on standard output and the error stream on standard
// error as they are written; the exit status is the job's result.
#include <cstdio>

#include "engine/engine_main.h"
#include "base/text_stream.h"

int main(int argc, char** argv)
{
    report_stream.set_sink(stdout);
    error_stream.set_sink(stderr);
    return engine_main(argc, argv);
}
