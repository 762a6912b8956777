// Quoted-printable: the body form (soft line breaks keep lines at most 76
// characters) and the header form ("Q" words); decoding in place.
#pragma once

#include <cstddef>

#include "base/text_string.h"

// Room the encoder needs for length input bytes, soft line breaks included.
size_t qp_encoded_capacity(size_t length);

// Encodes into out (qp_encoded_capacity(length) bytes) and returns the bytes
// written. column is the output column (1 for a new text) and is carried
// from call to call. With stop_at_angle, encoding ends at the first '<';
// consumed tells how many input bytes were encoded.
size_t qp_encode(int& column, const char* data, size_t length, bool header_mode, bool stop_at_angle, char* out,
                 size_t& consumed);

// The same as a string; rest receives the unencoded input from a '<' on.
string encode_quoted_printable(int& column, const char* data, size_t length, bool header_mode, bool stop_at_angle,
                               string& rest);

// Decodes in place and returns the decoded length; a NUL follows the result
// when it is shorter than the input.
size_t decode_quoted_printable(char* buffer, size_t length);
