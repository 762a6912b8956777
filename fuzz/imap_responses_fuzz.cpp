// Untagged IMAP response lines of any content, acted on as the reader acts
// on what a server sends: while a mailbox is selected (EXISTS resets the
// tables), then not; and the ACL answers' tokens. Whatever the lines say,
// the count, the sizes and the results stay within what the lines gave.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "retrieve/imap_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    ImapClient client;
    for (int pass = 0; pass < 2; ++pass) {
        client.selecting = pass == 0;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
            at = end == std::string::npos ? text.size() : end + 1;
            client.untagged("* " + line);
            if (client.message_count < 0) std::abort();
            for (int n = 1; n <= 3; ++n) {
                client.message_size(n);
                client.message_uid(n);
                client.result_uid(n);
            }
        }
    }
    string rest;
    for (string token = acl_token(text.c_str(), rest); !token.empty(); token = acl_token(rest.c_str(), rest))
        if (rest.length() > 255) std::abort();
    string name;
    while (client.next_mailbox_name(name)) {}
    return 0;
}
