// The IMAP reader: greeting, CAPABILITY, STARTTLS, the four ways to log in
// and login referrals, the response reader with its tag check, SELECT and
// EXAMINE, sizes and UIDs, SEARCH and SORT, retrieval of messages, headers
// and single parts (literals handed to the parser), IDLE, CLOSE and LOGOUT;
// mailbox, flag, copy and move operations and access control lists.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <string>
#include <vector>

#include "base/lists.h"
#include "base/text_string.h"
#include "retrieve/imap_structure.h"
#include "retrieve/read_mail.h"

class ImapClient : public ReadMail {
public:
    // The longest response line kept whole; literals inside answers other
    // than a message's are taken into the line up to this size too.
    static constexpr int line_capacity = 65536;

    ImapClient() = default;
    ~ImapClient() override;
    const char* kind() const override { return "IMAP"; }

    int disconnect() override;                                                                          // 11
    int open_connection(const string& host, const string& port, const char* cert, int verify) override;  // 12
    int login(const char* user, const char* password) override;                                         // 13
    int get_message_count() override { return message_count; }                                         // 14
    int delete_message(int n) override;                                                                 // 15
    int undelete_message(int n) override;                                                               // 16
    int close_mailbox() override;                                                                       // 17
    int retrieve(int n) override;                                                                       // 19
    int sort_messages(const char* criteria, const char* key) override;                                 // 20
    int search_messages(const char* key) override;                                                      // 21
    int message_size(int n) override;                                                                   // 22
    int first_unseen() override { return static_cast<int>(first_unseen_); }                             // 23
    int recent_count() override { return static_cast<int>(recent_count_); }                             // 24
    int uid_validity() override { return static_cast<int>(uid_validity_); }                             // 25
    int uid_next() override { return static_cast<int>(uid_next_); }                                     // 26
    int message_uid(int n) override;                                                                    // 27
    // The size of the message with this UID, as FETCH gave it (0 unknown).
    int uid_size(uint32_t uid) const;
    int result_uid(int i) override;                                                                     // 28
    int last_retrieved_number() override { return static_cast<int>(last_uid); }                        // 29
    const char* seen_flag() override { return last_flags.c_str(); }                                     // 30
    int list_mailboxes(const char* pattern, int subscribed) override;                                   // 31
    int create_mailbox(const char* name) override;                                                      // 32
    int subscribe_mailbox(const char* name) override;                                                   // 33
    int unsubscribe_mailbox(const char* name) override;                                                 // 34
    int open_mailbox(const char* name, int examine) override;                                           // 35
    int rename_mailbox(const char* from, const char* to) override;                                      // 36
    int copy_message(int n, const char* mailbox, int delete_after) override;                            // 37
    int move_message(int n, const char* mailbox) override;                                              // 38
    int delete_mailbox(const char* name) override;                                                      // 39
    int next_mailbox_name(string& name) override;                                                       // 40
    int select_mailbox(const char* name, int examine) override;                                         // 41
    int fetch_sizes(int first, int last) override;                                                      // 42
    int read_reply() override;                                                                          // 43

    // One response line into the reply buffer; untagged lines are acted
    // on. A literal at the end of a FETCH line that carries a message or a
    // part is left for the caller when leave_literal is set; every other
    // literal is taken into the line as a quoted string. 1, or the failed
    // read's result (the connection is then closed).
    int read_response_line(bool leave_literal = false);
    int logout(bool use_userlogout);
    int retrieve_uid(uint32_t uid);
    // The header alone of the message with this UID (as retrieve_headers
    // by number).
    int retrieve_headers_uid(uint32_t uid);
    int fetch_part(int n, const char* part, const char* encoding, uint32_t offset, uint32_t length);
    int fetch_part_uid(uint32_t uid, const char* part, const char* encoding, uint32_t offset, uint32_t length);
    // The body structure of message n into parts (and structure_text).
    int fetch_structure(int n);
    int fetch_structure_uid(uint32_t uid);
    int start_idle();
    // Waits up to seconds for the server to say something: the seconds
    // left, 0 when nothing came, -1 when the server ended the IDLE itself,
    // or a failed read's result.
    int idle_wait(int seconds);
    // Leaves IDLE with DONE and reads its completion.
    int end_idle();
    int delete_uid(uint32_t uid);
    int undelete_uid(uint32_t uid);
    int copy_uid(uint32_t uid, const char* mailbox, int delete_after);
    int move_uid(uint32_t uid, const char* mailbox);
    int set_acl(const char* mailbox, const char* identifier, const char* rights);
    int delete_acl(const char* mailbox, const char* identifier);
    int get_acl(const char* mailbox, List<string>& identifiers, List<string>& rights);
    int list_rights(const char* mailbox, const char* identifier, string& required, List<string>& optional);
    int my_rights(const char* mailbox, string& rights);

    // Capabilities of the last CAPABILITY answer
    int has_starttls = 0, has_sort = 0, has_acl = 0, has_userlogout = 0, has_idle = 0;
    int has_auth_login = 0, has_auth_plain = 0, has_auth_cram_md5 = 0;
    int capabilities_known = 0;
    int idling = 0, search_done = 0, selecting = 0, logout_unneeded = 1;
    uint32_t tag = 0, last_uid = 0;
    List<string> mailbox_names, listed_names;
    List<imap_part> parts;
    string selected_mailbox, last_flags, user, password, structure_text;
    // Set when messages will be retrieved by number one after the other up
    // to this number with nothing in between: they are then asked for with
    // one FETCH of the range and read from it in turn. 0: one at a time.
    int read_ahead_until = 0;

    // The response of the last command, for a caller that reads more of it.
    std::string last_line() const { return line_; }
    // Acts on one untagged response line ("* ..."): names, capabilities,
    // codes, results, counts, sizes and UIDs.
    void untagged(const std::string& line);

private:
    int command(const char* pattern, ...) __attribute__((format(printf, 2, 3)));
    int send_line(const std::string& text);
    int read_line_piece(std::string& into, bool& whole);
    int skip_bytes(uint64_t count);
    int skip_literals();
    int drop_range();
    int retrieve_in_range(int n);
    void clear_capabilities(bool with_auth);
    void reset_mailbox_state();
    int final_status(const std::string& line, bool with_line);
    int authenticate(const char* user, const char* password);
    // The answer to a FETCH: the line for the wanted message that carries
    // item ("BODY[", "BODYSTRUCTURE").
    int fetch_answer(bool by_uid, uint32_t wanted, bool leave_literal, const char* item, std::string& line);
    int search_answer();
    int read_literal_message(const std::string& line, int start_in_body, const char* failure_note);
    int fetched(bool by_uid, uint32_t wanted, int start_in_body, const char* encoding);
    int part_fetch(bool by_uid, uint32_t id, const char* part, const char* encoding, uint32_t offset,
                   uint32_t length);
    void preset_decoding(const char* encoding);
    int structure_fetch(bool by_uid, uint32_t id);
    int acl_answer(const char* keyword, const std::function<void(const char*)>& take);
    void store_search_results(const char* numbers);
    void take_fetch_items(const std::string& line, uint32_t n);
    int referral_from_greeting(const string& port, const char* cert, int verify);

    struct Entry {
        uint32_t size = 0, uid = 0;
    };
    // By message number: dense while the numbers come in order, a map for
    // the rest, so a server that claims a huge count costs only what it
    // sends.
    Entry* entry(uint32_t n, bool create);
    std::vector<Entry> entries_;
    std::map<uint32_t, Entry> scattered_;
    std::unordered_map<uint32_t, uint32_t> uid_sizes_;
    std::vector<uint32_t> search_results_;
    uint32_t uid_validity_ = 0, uid_next_ = 0, first_unseen_ = 0, recent_count_ = 0;
    std::string line_;  // the last response line, literals taken in
    // An open FETCH of a range: the message read next from it, and its last.
    int range_next_ = 0, range_last_ = 0;
    bool summing_sizes_ = false;  // while fetch_sizes reads its answer
    int referrals_ = 0;  // hops since the connection was asked for
    bool following_referral_ = false;
};

// A value as an IMAP quoted string: between double quotes, with '"' and
// '\' escaped, so a name can never end the string or start a command.
std::string imap_quoted(const char* value);

// One token of an ACL answer (quoted or up to white space) and the rest of
// the text after it; see the reader of ACL answers.
string acl_token(const char* text, string& rest);
