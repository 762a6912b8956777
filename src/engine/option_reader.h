// The main option reader: every option but the early ones, tried in the
// table's order; the first that matches applies.
#pragma once

void read_options(int argc, const char* const* argv);
