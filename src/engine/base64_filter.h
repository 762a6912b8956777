// The standard-input filters "-encode:base64" and "-decode:base64".
#pragma once

#include <cstdio>

// Encodes in to out with lines of line_length characters (CR LF line ends).
// Both return 0, or 1 after an error line naming the reason when the input
// could not be read or the output could not be written.
int encode_base64_stream(FILE* in, FILE* out, int line_length);
int decode_base64_stream(FILE* in, FILE* out);
