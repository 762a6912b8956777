// The list file: what is written back reads back as the same entries, and
// subscribing or leaving changes no other subscriber. Also the names a
// fetch request may use, and the failure-report reader on any text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/failure_report.h"
#include "engine/fetch_folder.h"
#include "engine/list_file.h"

namespace {

bool same_entries(const SubscriberList& a, const SubscriberList& b)
{
    if (a.entries().size() != b.entries().size()) return false;
    for (size_t i = 0; i < a.entries().size(); ++i)
        if (a.entries()[i].text != b.entries()[i].text || a.entries()[i].kind != b.entries()[i].kind) return false;
    return true;
}

SubscriberList reread(const SubscriberList& list)
{
    std::string text = list.file_text();
    SubscriberList again;
    again.parse(text.data(), text.size());
    return again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    SubscriberList list;
    list.parse(text, size);
    if (!same_entries(list, reread(list))) std::abort();

    const std::string address = "fuzz@test.example";
    std::string others = list.recipients(address);
    SubscriberList joined = list;
    joined.subscribe(address);
    SubscriberList after_join = reread(joined);
    if (!after_join.is_subscriber(address) || after_join.recipients(address) != others) std::abort();
    SubscriberList left = after_join;
    left.unsubscribe(address);
    SubscriberList after_leave = reread(left);
    if (after_leave.is_subscriber(address) || after_leave.recipients(address) != others) std::abort();

    std::string subject(text, size);
    FetchRequest request = fetch_request(subject);
    if (!request.refused && (request.name.find_first_of("/\\") != std::string::npos ||
                             subject.find("..") != std::string::npos || request.name.size() > 1023))
        std::abort();
    std::string terminated(text, size);
    FailureReport report = read_failure_report(terminated.c_str());
    if (report.recipient.size() > 1023 || report.recipient.find_first_of("\r\n") != std::string::npos) std::abort();
    return 0;
}
