// The commands a received message can be handed to: "-exec:" with the
// message as its standard input, and the PGP program for encrypted parts.
#pragma once

#include <cstddef>
#include <string>

#include "base/text_string.h"

// Writes the data to a temporary file, runs "command < file" through the
// shell (without the "<" when redirect is off), waits, removes the file.
// True when the data was written and the command exited with status 0: a
// message whose command failed must not be deleted as if it were handled.
bool pipe_to_command(const string& command, const char* data, size_t length, bool redirect);

// "-pgp" is on and the data is PGP armour.
bool pgp_applies(const char* data, size_t length);
// Decrypts data into text: true with the program's output, false with its
// error text when it wrote nothing.
bool pgp_decrypt_text(const char* data, size_t length, std::string& text);
// Decrypts data into the file at path; false when the file is empty or
// missing afterwards.
bool pgp_decrypt_file(const char* data, size_t length, const string& path);
