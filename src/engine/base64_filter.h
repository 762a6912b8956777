// The standard-input filters "-encode:base64" and "-decode:base64".
#pragma once

#include <cstdio>

// Encodes in to out with lines of line_length characters (CR LF line ends).
void encode_base64_stream(FILE* in, FILE* out, int line_length);
void decode_base64_stream(FILE* in, FILE* out);
