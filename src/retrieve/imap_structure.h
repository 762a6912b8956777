// The body structure of an IMAP message: the BODYSTRUCTURE list of a FETCH
// answer turned into a flat list of parts, each numbered the way BODY[...]
// names it.
#pragma once

#include <cstdint>

#include "base/lists.h"
#include "base/text_string.h"

// One body part. Strings are empty when the server left the field out (or
// sent NIL), except encoding, which is kept as sent.
struct imap_part {
    string part_number;   // "TEXT" (the top multipart), "1", "1.2", ...
    string content_type;  // type and subtype joined by '/', as the server wrote them
    string content_id;
    string description;
    string charset;       // the first parameter pair, when it is "charset"
    string encoding;      // as sent, possibly "NIL"
    string name;          // the first parameter pair, when it is "name"
    string type;          // the first parameter pair, when it is "type"
    string disposition;   // the disposition type: "ATTACHMENT", "inline", ...
    string filename;      // the disposition's first parameter pair, when it is "filename"
    double size = 0;      // octets
    double lines = 0;     // text and message parts
    int32_t depth = 0;    // parentheses around the part in the structure text
};

// Empties parts and fills it from text, one BODYSTRUCTURE list starting at
// its first '(' (as structure_text_of gives it). Parts come in the order of
// the message, each multipart in front of its own parts:
//   a single part                        "1"
//   multipart/alternative: text, html    "TEXT", "1", "2"
//   multipart/mixed: alternative, image  "TEXT", "1", "1.1", "1.2", "2"
// A message/rfc822 part is one part: its envelope and inner structure are
// skipped. A multipart that holds no part is left out. Only the fields
// above are kept; other parameters and extension data are passed over.
// Literals ({n}) are not understood. Any text is safe: reading stops at the
// text's end or where the outer list closes, after at most 10000 parts;
// nesting beyond 255 multipart levels gives wrong numbers, never a fault.
void parse_structure(const char* text, List<imap_part>& parts);

// From the first '(' after "BODYSTRUCTURE" (found ignoring case) in line up
// to and including the parenthesis that closes it. Parentheses inside
// quoted strings (with backslash escapes) do not count. Empty when the line
// holds no BODYSTRUCTURE, no '(' after it, or the list does not close.
string structure_text_of(const char* line);
