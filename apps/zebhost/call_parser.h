// Script-like calls for zebhost: name("text", 12, "more").
#pragma once

#include <string>
#include <vector>

struct ScriptArgument {
    bool is_text;
    std::string text;
    long integer;
};

struct ScriptCall {
    std::string name;
    std::vector<ScriptArgument> arguments;
};

// Parses one call; false (with a reason in error) when it is not one.
bool parse_call(const std::string& source, ScriptCall& call, std::string& error);
