// The list server's fetch folder ("-fetch:"): which file a "fetch NAME" or
// "get NAME" request asks for, and the index of the files there.
#pragma once

#include <string>

struct FetchRequest {
    std::string name;      // the subject's second blank-separated word, or empty
    bool refused = false;  // the name is never turned into a path
};

// A request is refused when the subject holds "..", or the name holds a
// folder separator ('/' or '\\', so no absolute path either) or is longer
// than the 1023 characters a name may have. An empty name is not refused;
// it names no file.
FetchRequest fetch_request(const std::string& subject);

// The path of an accepted, non-empty name in the folder.
std::string fetch_path(const std::string& folder, const std::string& name);

// "FILE INDEX:" and one line for each regular file of the folder, in the
// order the folder lists them: the name, a run of '.' (up to column 50 of
// the full path), the size in KiB and the time of the last change.
std::string file_index_text(const std::string& folder);
