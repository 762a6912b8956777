// The attachment options: they act on the current transport when they are
// read ("-a:", "-i:", "-dir:", "-rdir:", "-post:", "-url:").
#pragma once

#include "engine/option_table.h"

void attach_file(const OptionArg& arg);
void attach_voice(const OptionArg& arg);
void include_file(const OptionArg& arg);
void post_body_from_file(const OptionArg& arg);
void attach_url(const OptionArg& arg);
void attach_directory(const OptionArg& arg);
void attach_directory_tree(const OptionArg& arg);
