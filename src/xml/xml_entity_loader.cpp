#include "xml/xml_entity_loader.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "http/http_client.h"
#include "platform/environment.h"
#include "platform/paths.h"

unsigned long xml_open_retry_ms = 1000;

namespace {

bool has_prefix(const string& s, const char* prefix) { return std::strncmp(s.c_str(), prefix, std::strlen(prefix)) == 0; }

// "scheme://" of any scheme but the two we fetch: such an identifier is
// not taken for a file name.
bool other_scheme(const string& id)
{
    const char* p = id.c_str();
    size_t n = 0;
    while ((p[n] >= 'a' && p[n] <= 'z') || (p[n] >= 'A' && p[n] <= 'Z') || (n > 0 && p[n] >= '0' && p[n] <= '9') ||
           (n > 0 && (p[n] == '+' || p[n] == '-' || p[n] == '.')))
        ++n;
    return n > 1 && std::strncmp(p + n, "://", 3) == 0;
}

// A page of at most limit bytes; a longer one (the client stops reading
// at the bound) is not loaded.
bool load_page(const string& url, size_t limit, int timeout, string& out)
{
    HttpsClient client;
    client.set_timeout(timeout);
    client.body_limit = static_cast<int64_t>(limit);
    string body = client.fetch_to_string(url.c_str(), 0);
    if (client.cancelled) return false;
    // A page that did not come is an empty entity, not its status text.
    out = client.status_code >= 200 && client.status_code <= 299 ? body : string();
    return true;
}

bool load_file(const string& id, size_t limit, bool may_wait, string& out)
{
    string path = entity_file_path(id);
    FILE* f = std::fopen(path.c_str(), "rb");
    for (int attempt = 0; !f && may_wait && attempt < xml_open_retries; ++attempt) {
        sleep_ms(xml_open_retry_ms);
        f = std::fopen(path.c_str(), "rb");
    }
    out = string();
    if (!f) return true;
    std::unique_ptr<FILE, int (*)(FILE*)> closer(f, std::fclose);
    int64_t size = file_size(path.c_str());
    if (size > 0 && static_cast<uint64_t>(size) > limit) return false;
    std::string all;
    if (size > 0) all.reserve(static_cast<size_t>(size));
    char piece[65536];
    size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) {
        if (n > limit - all.size()) return false;  // grew past the bound while being read
        all.append(piece, n);
    }
    out = string(all.data(), all.size());
    return true;
}

}  // namespace

string entity_file_path(const string& system_id) { return to_platform_separators(system_id); }

bool XmlEntityLoader::load(const string& system_id, size_t limit, string& out)
{
    if (!policy_.load_external) return false;
    std::string key(system_id.c_str(), system_id.length());
    auto known = loaded_.find(key);
    if (known != loaded_.end()) {
        if (!known->second.ok || known->second.content.length() > limit) return false;
        out = known->second.content;
        return true;
    }
    // Only files and pages over HTTP or HTTPS are loaded, and only so many
    // of them in one parse; each within the bound the caller gives.
    if (static_cast<int>(loaded_.size()) >= policy_.max_documents) return false;
    Loaded l{false, string()};
    if (has_prefix(system_id, "http:") || has_prefix(system_id, "https:")) {
        l.ok = load_page(system_id, limit, policy_.http_timeout, l.content);
    } else if (!other_scheme(system_id)) {
        bool may_wait = !waited_;
        if (may_wait && !file_exists(entity_file_path(system_id).c_str())) waited_ = true;
        l.ok = load_file(system_id, limit, may_wait, l.content);
    }
    // A document past the bound is remembered as not loaded only for this
    // bound: a later reference may have less room still, never more.
    loaded_.emplace(key, l);
    if (!l.ok) return false;
    out = l.content;
    return true;
}
