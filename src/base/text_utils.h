// Text and address helpers shared by the option readers, the drivers and the
// web pages. All return new values and leave their arguments alone.
#pragma once

#include "base/text_string.h"

// Removes trailing blanks and one pair of enclosing q characters. With
// escape, a backslash and the character after it are copied as they are.
string unquote(const char* text, char q = '"', bool escape = false);
string unquote(const string& text, char q = '"', bool escape = false);
// Removes trailing blanks (spaces) only.
string trim_trailing_blanks(const string& text);

string address_display_name(const char* address);
string address_only(const char* address);
string address_domain(const char* address);
bool is_valid_address(const char* text);
string translate_address(const char* address, bool& found);
string translate_address_list(const char* list, bool& found);
int count_display_name_matches(const char* list, const char* name);

string html_escape(const char* text);
string quote_reply_html(const char* text);
string url_encode(const char* text, bool encode_all);
string url_decode(const char* text);
// The value of the web form field called name (compared without case), a
// pointer into the stored field text, or null.
const char* form_value(const char* name);
bool is_old_browser();

// The path for name in directory; with unique set and the path taken, the
// first free "Copy<d>_<name>" instead (name receives it).
string unique_file_name(const string& directory, string& name, bool unique);
string dir_part(const char* path);
string file_part(const char* path);
string zero_padded_number(unsigned value);

bool match_pattern(const char* text, const char* pattern, bool ignore_case, bool literal_classes);
