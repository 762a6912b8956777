#include "engine/config_reader.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "base/line_reader.h"
#include "base/text_utils.h"
#include "engine/config_keywords.h"
#include "engine/labels.h"
#include "engine/option_state.h"
#include "platform/nocase.h"

namespace {

constexpr size_t max_line = 4094;

bool begins_with(const char* line, const char* keyword)
{
    return nocase_compare_n(line, keyword, std::strlen(keyword)) == 0;
}

const ConfigRow* longest_keyword(const char* line)
{
    const ConfigRow* best = nullptr;
    size_t best_length = 0;
    for (size_t i = 0; i < config_row_count; ++i) {
        size_t n = std::strlen(config_rows[i].keyword);
        if (n > best_length && begins_with(line, config_rows[i].keyword)) {
            best = &config_rows[i];
            best_length = n;
        }
    }
    return best;
}

bool offered_to_labels(const char* line)
{
    for (size_t i = 0; i < config_label_exception_count; ++i)
        if (begins_with(line, config_label_exceptions[i])) return false;
    return true;
}

}  // namespace

void apply_config_line(const char* line)
{
    if (const ConfigRow* row = longest_keyword(line)) {
        char value[1024] = "";
        if (row->value == ConfigValue::w255) std::sscanf(line, "%*s %255[^\r\n]", value);
        else if (row->value == ConfigValue::w1023) std::sscanf(line, "%*s %1023[^\r\n]", value);
        string text = unquote(value, '"', row->escape);
        row->apply(make_option_arg(text, value));
    }
    if (offered_to_labels(line)) read_label(line);
}

void read_config()
{
    if (!process_state().use_config) return;
    LineReader reader(call_state().config_file.c_str(), max_line);
    std::string line;
    while (reader.next(line)) apply_config_line(line.c_str());
}
