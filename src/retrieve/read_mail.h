// The readers: ReadMail, the base of every mail source, with its one-pass
// received-message parser, and its POP3, IMAP and file variants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/lists.h"
#include "base/text_string.h"
#include "net/connection.h"
#include "retrieve/header_map.h"

class ReadMail : public Connection {
public:
    ReadMail();
    ~ReadMail() override;

    // The source's own operations; the base class does nothing for most.
    int disconnect() override;                                                                          // 11
    virtual int open_connection(const string& host, const string& port, const char* cert, int verify);  // 12
    virtual int login(const char*, const char*) { return 0; }                                           // 13
    virtual int get_message_count() { return 0; }                                                       // 14
    virtual int delete_message(int) { return 0; }                                                       // 15
    virtual int undelete_message(int) { return 0; }                                                     // 16
    virtual int close_mailbox() { return 1; }                                                           // 17
    virtual int retrieve_headers(int n);                                                                // 18
    virtual int retrieve(int) { return 0; }                                                             // 19
    virtual int sort_messages(const char*, const char*) { return 0; }                                   // 20
    virtual int search_messages(const char*) { return 0; }                                              // 21
    virtual int message_size(int) { return 0; }                                                         // 22
    virtual int first_unseen() { return 0; }                                                            // 23
    virtual int recent_count() { return 0; }                                                            // 24
    virtual int uid_validity() { return 0; }                                                            // 25
    virtual int uid_next() { return 0; }                                                                // 26
    virtual int message_uid(int) { return 0; }                                                          // 27
    virtual int result_uid(int) { return 0; }                                                           // 28
    virtual int last_retrieved_number() { return last_retrieved; }                                      // 29
    virtual const char* seen_flag() { return "\\Seen"; }                                              // 30
    virtual int list_mailboxes(const char*, int) { return 0; }                                          // 31
    virtual int create_mailbox(const char*) { return 0; }                                               // 32
    virtual int subscribe_mailbox(const char*) { return 0; }                                            // 33
    virtual int unsubscribe_mailbox(const char*) { return 0; }                                          // 34
    virtual int open_mailbox(const char*, int) { return 0; }                                            // 35
    virtual int rename_mailbox(const char*, const char*) { return 0; }                                  // 36
    virtual int copy_message(int, const char*, int) { return 0; }                                       // 37
    virtual int move_message(int, const char*) { return 0; }                                            // 38
    virtual int delete_mailbox(const char*) { return 0; }                                               // 39
    virtual int next_mailbox_name(string&) { return 0; }                                                // 40
    virtual int select_mailbox(const char*, int) { return 0; }                                          // 41
    virtual int fetch_sizes(int, int) { return 0; }                                                     // 42
    virtual int read_reply() { return 0; }                                                              // 43
    virtual const char* kind() const = 0;

    // The received-message parser over the lines of one message: 1 when the
    // message was read to its end, 0 when a read failed (the connection is
    // then closed). expected_size is the exact size or, for a source whose
    // message ends with a "." line, a hint.
    int parse(uint32_t expected_size, int start_in_body);

    // What the last parse found.
    string subject_or_default() const;
    string to_or_unknown() const;
    string cc_text() const { return hdr_cc; }
    string sender() const;
    string reply_address() const;
    string date_or_unknown() const;
    const char* text() const;
    string attachment_filename() const { return att_filename; }
    string notification_address() const { return hdr_notify_to; }
    string sensitivity_text() const { return hdr_sensitivity; }
    const char* priority_text() const;
    int attachment_count() const { return att_data.count(); }
    // Steps to the next part: its data (NUL-terminated), or none.
    const char* next_attachment();
    string attachment_mime_type() const;
    // The value of a main-header line, once: the entry is taken out.
    string take_header(const char* name);
    int header_names(List<string>& list, bool at_front) const { return header_map.keys_to_list(list, at_front); }

    // Flags the engine sets before it connects
    int raw_mode = 0, extract_parts = 0, prefer_html = 0, debug_level = 0, retrieve_mode = 0;
    int size_is_exact = 1, decode_headers = 1, force_unfold = 0, purge = 0;
    int use_tls = 0, use_starttls = 0, challenge_auth = 0;
    // Only a POP3 transfer doubles leading dots; only its reader takes them
    // off again. A message file keeps a line ".x" as it is.
    int dot_stuffed = 0;
    int preset_base64 = 0, preset_qp = 0;

    // State of the source and of the last parse
    int message_count = 0, last_retrieved = 0, logged_in = 0;
    int priority = 0, header_count = 0, parse_done = 0;
    uint64_t bytes_read = 0, expected_size = 0, body_length = 0, attachments_total = 0;
    string connect_host, connect_port, firewall_line, tunnel_host, tunnel_port;
    string hdr_subject, hdr_reply_to, hdr_from, hdr_to, hdr_cc, hdr_date, hdr_message_id, hdr_references;
    string hdr_notify_to, hdr_sensitivity, hdr_content_type, word_charset, hdr_charset, att_filename;
    string hdr_content_id, hdr_content_location, hdr_content_base;

    IteratedListOf att_data, att_sizes, att_names, att_types, att_ids;
    HeaderMap header_map;
    List<string> boundary_stack;

protected:
    // Forgets what the last parse found (a fetch that brought no message).
    void clear_results();
    // A retrieval of the header alone, without parts; the modes are as
    // before afterwards.
    template <typename Retrieval>
    int headers_only(Retrieval retrieval)
    {
        int saved_mode = retrieve_mode, saved_extract = extract_parts;
        extract_parts = 0;
        retrieve_mode = 1;
        int r = retrieval();
        retrieve_mode = saved_mode;
        extract_parts = saved_extract;
        return r;
    }

private:
    class Parser;
    friend class Parser;
    string decoded(const char* text, size_t length);

    struct FreeBytes {
        void operator()(char* p) const { std::free(p); }
    };
    std::unique_ptr<char, FreeBytes> body_text_;  // malloc'd by the parser
    size_t body_size_ = 0;
};

// A POP3 mailbox: greeting with its APOP time stamp, STLS, APOP or
// USER/PASS, STAT and LIST, RETR or TOP handed to the parser, DELE, QUIT.
class PopClient : public ReadMail {
public:
    PopClient()
    {
        size_is_exact = 0;
        dot_stuffed = 1;
    }
    ~PopClient() override;
    const char* kind() const override { return "POP3"; }

    int disconnect() override;                                                                          // 11
    int open_connection(const string& host, const string& port, const char* cert, int verify) override;  // 12
    int login(const char* user, const char* password) override;                                         // 13
    int get_message_count() override { return message_count; }                                         // 14
    int delete_message(int n) override;                                                                 // 15
    int retrieve(int n) override;                                                                       // 19
    int message_size(int n) override;                                                                   // 22
    // One reply line: 1 for "+", -1 for "-", 0 for anything else; a failed
    // read closes the connection and is returned.
    int read_reply() override;  // 43
    int quit();

    // The longest reply line kept (the rest of a longer one is dropped).
    static constexpr int reply_limit = 511;
    // The most bytes of an unwanted message read past before giving up.
    static constexpr uint64_t max_dropped_message = 134217728;

    string apop_timestamp;
    int stls_offered = 0;
    // Set before logging in when messages will be retrieved one after the
    // other up to this number with nothing in between: a server whose CAPA
    // offers PIPELINING is then asked for the next few messages while this
    // one is read. 0 asks for one message at a time.
    int read_ahead_until = 0;
    int pipelining = 0;

private:
    int read_capabilities();
    int read_sizes();
    // Reads and drops the answers to RETRs sent ahead that nobody wants.
    int drop_read_ahead();
    int drop_message();
    // The messages whose RETR went out ahead, first to last (none at 0).
    int ahead_first_ = 0, ahead_last_ = 0;
    int capabilities_read_ = 0;
    // How many messages are asked for ahead at most.
    static constexpr int ahead_window = 8;
    // Sizes by message number, as LIST gave them: in order of the lines,
    // so a server that claims a huge count costs only what it sends.
    struct Size {
        int number;
        int32_t size;
    };
    std::vector<Size> message_sizes_;
    bool sizes_sorted_ = true;
};

// Messages in local files, one message a file, parsed with the file's size
// as the exact size.
class FileClient : public ReadMail {
public:
    FileClient() = default;
    ~FileClient() override;
    const char* kind() const override { return "file"; }

    int read(char* buffer, int n) override;                    // 2
    int read_line(char* buffer, int capacity) override;        // 3
    int peek_byte(char& out) override;                          // 4
    int disconnect() override;                                  // 11
    // path, and pattern: empty for the one file named by path, else the
    // files of the folder path that match it.
    int open_connection(const string& path, const string& pattern, const char*, int) override;  // 12
    int get_message_count() override { return message_count; }  // 14
    int delete_message(int n) override;                          // 15
    int retrieve(int n) override;                                // 19

    List<string> message_files;

private:
    bool fill();
    void close_input();
    FILE* input_ = nullptr;
    std::unique_ptr<char[]> block_;
    size_t block_at_ = 0, block_end_ = 0;
};
