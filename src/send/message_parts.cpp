// The small pieces of a composed message: its date, its boundaries and the
// MIME type of an attached file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/nocase.h"
#include "send/message_composer.h"

namespace {

const char* const weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct ExtensionRow {
    const char* extension;
    bool prefix;  // compare only the first four characters
    const char* type;
};

// After the two rows that do not look at the extension's text (all-binary
// flag, no extension) and with ".txt" also taken by the text flag.
const ExtensionRow extension_rows[] = {
    {".htm", true, "text/html"},   {".txt", false, "text/plain"},  {".gif", false, "image/gif"},
    {".jpg", false, "image/jpeg"}, {".png", false, "image/png"},   {".tif", true, "image/tiff"},
    {".mp3", true, "audio/mpeg"},  {".vcf", true, "text/directory"}, {".wav", true, "audio/wav"},
    {".pdf", false, "application/pdf"}, {".zip", false, "application/x-zip-compressed"},
};

unsigned long boundary_counter = 0;

}  // namespace

string message_date(int style, long bias)
{
    time_t now = time(nullptr);
    struct tm t;
    char text[64];
    if (style == 0) {
        localtime_r(&now, &t);
        long digits = bias + (bias / 60) * 40;
        if (digits < 0) digits = -digits;
        std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %s%04u", weekdays[t.tm_wday], t.tm_mday,
                      months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, bias <= 0 ? "+" : "-",
                      static_cast<unsigned>(digits));
    } else {
        gmtime_r(&now, &t);
        std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d %s", weekdays[t.tm_wday], t.tm_mday,
                      months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, style == 1 ? "GMT" : "UTC");
    }
    return string(text);
}

string make_boundary()
{
    static bool seeded = false;
    if (!seeded) {
        std::srand(static_cast<unsigned>(time(nullptr)));
        seeded = true;
    }
    char text[96];
    std::snprintf(text, sizeof text, "NEXT_PART_%lu_%ld_%ld_%ld", ++boundary_counter, static_cast<long>(time(nullptr)),
                  static_cast<long>(clock()), static_cast<long>(std::rand()));
    return string(text);
}

MimeType mime_type_of(const char* base_name, bool all_binary, bool text_flag)
{
    if (all_binary) return {"application/octet-stream", true};
    const char* dot = std::strrchr(base_name, '.');
    if (!dot) return {"application/octet-stream", true};
    for (const ExtensionRow& row : extension_rows) {
        bool match = row.prefix ? nocase_compare_n(dot, row.extension, 4) == 0 : nocase_compare(dot, row.extension) == 0;
        if (match || (text_flag && std::strcmp(row.extension, ".txt") == 0)) return {row.type, false};
    }
    return {"application/octet-stream", true};
}
