// The special modes a run may have besides sending and receiving, run in a
// fixed order, each when its option is set. The result is 0, or 1 when a
// mode that ran failed.
#pragma once

int run_special_modes(int argc, const char* const* argv);
