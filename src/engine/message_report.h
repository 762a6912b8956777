// One received message as the user sees it: its header lines with their
// labels, its body and text parts on the report stream or appended to the
// output file, and its named parts stored in the extract folder.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>

#include "base/text_string.h"
#include "retrieve/read_mail.h"

struct ReportOutcome {
    bool stored = true;       // everything asked for was written
    bool pgp_failed = false;  // a decryption wrote nothing
};

// Copies the message's fields into the send settings (the read receipt and
// the reply pages take them from there).
void copy_message_fields(ReadMail& r);

// The header lines of the message (of size bytes), from its subject on. send_receipt is
// called where the read receipt belongs among them; false from it stops
// the lines (the run ends).
bool write_header_lines(ReadMail& r, int size, const std::function<bool()>& send_receipt);

// The "-file:" file, opened for appending at the first message and kept
// open for the run; each message is flushed to it before the next.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { close(); }
    // The open file, or null after a message on the error stream.
    FILE* open(const string& path);
    // False, with a message, when what was written did not reach the file.
    bool flush();
    bool close();

private:
    FILE* file_ = nullptr;
    string path_;
};

// The body and the parts: appended to the "-file:" file, or on the report
// stream.
ReportOutcome write_message_body(ReadMail& r, OutputFile& file);

// Stores one part in directory under name (made unique with "-unique",
// which may change name); with text set its CR LF line ends become LF.
// False, with the reason on the error stream, when it could not be written.
bool write_attachment_file(const string& directory, string& name, const char* data, size_t length, bool text);
