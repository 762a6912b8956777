// Documents named by URL, fetched over HTTP or HTTPS and attached to the
// current transport: the "-url:" option, the configuration's URL keyword
// and the web form's "-url".
#pragma once

#include "base/text_string.h"

enum class UrlSource {
    option,         // "-url:": request body in post mode 2, lines on stderr
    configuration,  // URL keyword: a GET, the lines on the report stream
    web_form,       // "-url": the current post mode, no body, the head on the report stream
};

// Fetches value ("url" or "url|local name") into the extract folder and
// attaches it; a document that cannot be had gives the warning line.
void attach_url_document(const string& value, UrlSource source);
