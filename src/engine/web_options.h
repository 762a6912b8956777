// The web-mail option reader.
#pragma once

// Does nothing unless argv[1] begins with "-cgi". Returns 1 to let the run
// go on, 0 when the request is refused.
int read_web_options(int argc, const char* const* argv);
