// The special modes a run may have besides sending and receiving, run in a
// fixed order, each when its option is set.
#pragma once

void run_special_modes(int argc, const char* const* argv);
