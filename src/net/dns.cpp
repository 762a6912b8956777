#include "net/dns.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "base/text_utils.h"
#include "base/text_stream.h"
#include "platform/name_servers.h"

namespace {

uint16_t query_id = 0;

constexpr size_t max_query = 512;
constexpr int max_pointer_hops = 128;  // more than a 255-character name can need: a loop

uint16_t get16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t get32(const unsigned char* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Skips a name in a record: labels up to a zero byte, or a compression
// pointer that ends it. Returns the offset after it, or 0 when it leaves the
// message.
size_t skip_name(const unsigned char* m, size_t length, size_t at)
{
    while (at < length) {
        unsigned char n = m[at];
        if (n == 0) return at + 1;
        if (n >= 192) return at + 2 <= length ? at + 2 : 0;
        at += 1 + n;
    }
    return 0;
}

// Builds the query (after its two-byte length); 0 when the name does not fit.
size_t build_query(unsigned char* q, const char* name, int type, uint16_t id)
{
    size_t n = 2;
    q[n++] = static_cast<unsigned char>(id >> 8);
    q[n++] = static_cast<unsigned char>(id);
    const unsigned char header[] = {0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    std::memcpy(q + n, header, sizeof header);
    n += sizeof header;
    for (const char* label = name; *label;) {
        const char* dot = std::strchr(label, '.');
        size_t len = dot ? static_cast<size_t>(dot - label) : std::strlen(label);
        if (len > 63 || n + 1 + len + 5 > max_query) return 0;
        q[n++] = static_cast<unsigned char>(len);
        std::memcpy(q + n, label, len);
        n += len;
        if (!dot) break;
        label = dot + 1;
    }
    q[n++] = 0;
    q[n++] = static_cast<unsigned char>(type >> 8);
    q[n++] = static_cast<unsigned char>(type);
    q[n++] = 0;
    q[n++] = 1;
    q[0] = static_cast<unsigned char>((n - 2) >> 8);
    q[1] = static_cast<unsigned char>(n - 2);
    return n;
}

void hex_dump(const unsigned char* m, size_t length)
{
    char cell[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(cell, sizeof cell, "%02x ", m[i]);
        report_stream << cell;
        if (i % 16 == 15 || i + 1 == length) report_stream << "\r\n";
    }
}

}  // namespace

int DNS::disconnect()
{
    if (!connected()) return 1;
    return close();
}

bool DNS::decode_name(const unsigned char* m, size_t length, size_t at)
{
    size_t used = 0;
    int hops = 0;
    auto fail = [this] {
        name_[0] = 0;
        return false;
    };
    for (;;) {
        if (at >= length) return fail();  // no zero byte before the end
        unsigned char n = m[at];
        if (n == 0) break;
        if (n >= 192) {
            if (at + 2 > length || ++hops > max_pointer_hops) return fail();  // cut, or a loop
            at = static_cast<size_t>(((n & 0x3F) << 8) | m[at + 1]);
            continue;
        }
        if (at + 1 + n > length) return fail();
        for (size_t i = 0; i < n && used < sizeof name_ - 1; ++i) name_[used++] = static_cast<char>(m[at + 1 + i]);
        if (used < sizeof name_ - 1) name_[used++] = '.';
        at += 1 + n;
    }
    if (used > 0 && name_[used - 1] == '.') --used;
    name_[used] = 0;
    return true;
}

int DNS::parse_response(const unsigned char* m, size_t length, List<Server>& servers)
{
    if (length < 12) return 0;
    uint16_t questions = get16(m + 4), answers = get16(m + 6);
    size_t at = 12;
    for (uint16_t i = 0; i < questions; ++i) {
        at = skip_name(m, length, at);
        if (at == 0 || at + 4 > length) return 0;
        at += 4;
    }
    std::multimap<std::string, Server> ordered;
    for (uint16_t i = 0; i < answers; ++i) {
        at = skip_name(m, length, at);
        if (at == 0 || at + 10 > length) break;
        uint16_t type = get16(m + at);
        uint32_t ttl = get32(m + at + 4);
        size_t data_length = get16(m + at + 8);
        size_t data = at + 10;
        if (data + data_length > length) break;
        at = data + data_length;
        Server record;
        record.ttl = static_cast<int32_t>(ttl);
        if (type == dns_mx && data_length >= 3) {
            record.preference = static_cast<int16_t>(get16(m + data));
            if (decode_name(m, length, data + 2)) record.host = name_;
            if (verbose >= 1)
                report_stream << "Got MX pref: " << static_cast<int>(static_cast<uint16_t>(record.preference))
                              << "\r\nMX = '" << record.host << ", pref=" << static_cast<int>(record.preference)
                              << "\r\n";
        } else if (type == dns_a && data_length >= 4) {
            char dotted[16];
            std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", m[data], m[data + 1], m[data + 2], m[data + 3]);
            record.host = dotted;
            if (verbose >= 1) report_stream << "Got A address: " << dotted << "\r\n";
        } else if (type == dns_ns) {
            if (decode_name(m, length, data)) record.host = name_;
        } else {
            continue;
        }
        std::string key = zero_padded_number(static_cast<uint16_t>(record.preference)).c_str();
        ordered.insert(ordered.lower_bound(key), {key, record});  // before the earlier ones of this key
    }
    int added = 0;
    for (const auto& entry : ordered) {
        servers.add(entry.second);
        ++added;
    }
    return added;
}

int DNS::query(List<Server>& servers, const char* name, int type)
{
    size_t n = name ? std::strlen(name) : 0;
    if (n >= 2 && name[0] == '[' && name[n - 1] == ']') {
        Server literal;
        literal.host = string(name + 1, n - 2);
        literal.preference = -1;
        literal.ttl = -1;
        servers.add(literal);
        return 1;
    }
    if (verbose >= 1) report_stream << "Query for (" << type << ") '" << (name ? name : "") << "'\r\n";
    if (!connected()) return -1;

    unsigned char request[max_query + 2];
    size_t request_length = build_query(request, name ? name : "", type, ++query_id);
    if (request_length == 0) return -1;
    time_t started = time(nullptr);
    if (write(reinterpret_cast<char*>(request), static_cast<int>(request_length)) != static_cast<int>(request_length)) {
        if (verbose >= 1) report_stream << "Request write failure\r\n";
        close();
        return -1;
    }
    timeout = 300;
    unsigned char prefix[2];
    if (read(reinterpret_cast<char*>(prefix), 2) != 2) {
        if (verbose >= 1) report_stream << static_cast<long>(time(nullptr) - started) << "s Request read failure\r\n";
        close();
        return -1;
    }
    size_t length = get16(prefix);
    std::unique_ptr<unsigned char[]> response(new unsigned char[length ? length : 1]);
    int got = length ? read(reinterpret_cast<char*>(response.get()), static_cast<int>(length)) : 0;
    if (got < 0) {
        if (verbose >= 1) report_stream << "Response read failure\r\n";
        close();
        return -1;
    }
    if (static_cast<size_t>(got) < length && verbose >= 1)
        report_stream << "Response short " << got << " < " << static_cast<long>(length) << "\r\n";
    if (verbose >= 2) {
        report_stream << "Response bytes: " << got << "\r\n";
        hex_dump(response.get(), static_cast<size_t>(got));
    }
    return parse_response(response.get(), static_cast<size_t>(got), servers);
}

void find_dns_config(string& primary, string& secondary, string& domain)
{
    read_name_servers(primary, secondary, domain);
    if (primary.empty()) primary = "localhost";
    if (domain.empty()) domain = "unknown";
}
