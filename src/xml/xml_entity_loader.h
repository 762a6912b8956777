// Loading the documents external entities name: files, and pages over
// HTTP or HTTPS, within bounds.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "base/text_string.h"

// Wait between the attempts to open a file that cannot be opened.
extern unsigned long xml_open_retry_ms;
constexpr int xml_open_retries = 5;  // attempts after the first

// What one parse may load.
struct XmlEntityPolicy {
    // Off: an external entity's reference stays text and nothing is opened.
    bool load_external = true;
    // Silence allowed while a page is fetched, in seconds.
    int http_timeout = 30;
    // Distinct documents one parse loads at most; later ones stay text.
    int max_documents = 256;
};

// The loads of one parse. Each identifier is loaded once, and its content
// reused at every later reference; a missing file is waited for (the
// retries above) only once in a parse, so that many missing files cannot
// hold it up for long.
class XmlEntityLoader {
public:
    explicit XmlEntityLoader(const XmlEntityPolicy& policy) : policy_(policy) {}

    // The document into out, at most limit bytes. A file that cannot be
    // opened, or a page that does not come, gives an empty document. False,
    // and nothing loaded, when loading is off, for an identifier that is
    // neither a file nor an http(s) URL, past max_documents, and for a
    // document longer than limit.
    bool load(const string& system_id, size_t limit, string& out);

private:
    struct Loaded {
        bool ok;
        string content;
    };
    XmlEntityPolicy policy_;
    std::map<std::string, Loaded> loaded_;
    bool waited_ = false;
};

// The file a system identifier names, with '\\' read as the separator.
string entity_file_path(const string& system_id);
