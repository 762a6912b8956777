// The engine's entry: one call is one engine job.
#pragma once

// 0 for success, 1 for failure (usage shown, request refused, driver failed).
int engine_main(int argc, const char* const* argv);

// Removes a file; with verbose level above 1 the removal is reported with
// the caller's location.
int remove_file_traced(const char* path, const char* source, int line);
