#include "engine/list_log.h"

#include <cstdio>

#include "base/text_stream.h"

namespace {

enum class Stream { report, error, standard_output };

struct LogRow {
    ListEvent event;
    Stream stream;
    const char* text;  // after the user name
};

const LogRow log_rows[] = {
    {ListEvent::circular, Stream::report, "/circular: "},
    {ListEvent::subscribed, Stream::report, "/subscribe: "},
    {ListEvent::subscribe_ignored, Stream::report, "/subscribe (ignored): "},
    {ListEvent::unsubscribed, Stream::report, "/unsubscribe: "},
    {ListEvent::unsubscribe_ignored, Stream::report, "/unsubscribe (ignored): "},
    {ListEvent::bounce_unsubscribed, Stream::report, "/undelivered (unsubscribed): "},
    {ListEvent::bounce_forwarded, Stream::standard_output, "/undelivered: "},
    {ListEvent::bounce_ignored, Stream::standard_output, "/undelivered (ignored): "},
    {ListEvent::unknown, Stream::report, "/unknown: "},
    {ListEvent::fetch, Stream::standard_output, "/fetch: "},
    {ListEvent::index, Stream::report, "/index: "},
    {ListEvent::distribution, Stream::report, "/distribution: "},
    {ListEvent::post_refused, Stream::error, "/unknown or invalid: "},
    // A sender no reply may go to (not one plain address).
    {ListEvent::sender_refused, Stream::error, "/refused: "},
};

}  // namespace

void list_log(ListEvent event, const string& user, const std::string& detail)
{
    for (const LogRow& row : log_rows) {
        if (row.event != event) continue;
        if (row.stream == Stream::standard_output) {
            // After what the report stream already holds, and at once.
            report_stream.flush();
            error_stream.flush();
            std::fwrite(user.c_str(), 1, user.length(), stdout);
            std::fputs(row.text, stdout);
            std::fwrite(detail.data(), 1, detail.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            return;
        }
        TextStream& stream = row.stream == Stream::report ? report_stream : error_stream;
        stream << user << row.text;
        stream.write(detail.data(), detail.size());
        stream << "\r\n";
        return;
    }
}
