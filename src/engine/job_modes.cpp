#include "engine/job_modes.h"

#include <cstdio>

#include "engine/base64_filter.h"
#include "engine/option_state.h"
#include "base/text_stream.h"
#include "xml/xml_commands.h"

namespace {

struct SpecialMode {
    const char* description;
    int OptionState::*flag;
    int (*run)(int argc, const char* const* argv);  // 0 or 1; null: not in this build
};

int decode_base64(int, const char* const*) { return decode_base64_stream(stdin, stdout); }

int encode_base64(int, const char* const*) { return encode_base64_stream(stdin, stdout, options().wrap); }

const SpecialMode special_modes[] = {
    {"web-mail forms", &OptionState::web_mode, nullptr},
    {"raw-socket tests", &OptionState::rawsock, nullptr},
    {"SAP multicast tests", &OptionState::sap, nullptr},
    {"XML commands", &OptionState::xml, xml_commands},
    {"UDP tests", &OptionState::udp, nullptr},
    {"base64 decoding", &OptionState::decode_base64, decode_base64},
    {"base64 encoding", &OptionState::encode_base64, encode_base64},
};

}  // namespace

int run_special_modes(int argc, const char* const* argv)
{
    int result = 0;
    for (const SpecialMode& mode : special_modes) {
        if (!(options().*mode.flag)) continue;
        if (mode.run) result |= mode.run(argc, argv);
        else error_stream << "ERROR: " << mode.description << " are not available in this build\r\n";
    }
    return result;
}
