// The readers: ReadMail and its POP3, IMAP and file variants.
#pragma once

class ReadMail {
public:
    virtual ~ReadMail() = default;
    virtual const char* kind() const = 0;
};

class PopClient : public ReadMail {
public:
    const char* kind() const override { return "POP3"; }
};

class ImapClient : public ReadMail {
public:
    const char* kind() const override { return "IMAP"; }
};

class FileClient : public ReadMail {
public:
    const char* kind() const override { return "file"; }
};
