#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/digests.h"

namespace {

std::string md5_hex(const std::string& text)
{
    Md5Context c;
    md5_init(c);
    md5_update(c, text.data(), text.size());
    unsigned char digest[16];
    md5_final(digest, c);
    char hex[33];
    digest_to_hex(digest, hex);
    return hex;
}

std::string hmac_hex(const std::string& text, const std::string& key)
{
    unsigned char digest[16];
    hmac_md5(text.data(), text.size(), key.data(), key.size(), digest);
    char hex[33];
    digest_to_hex(digest, hex);
    return hex;
}

}  // namespace

TEST(Md5, Rfc1321Suite)
{
    struct Case { const char* in; const char* out; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(md5_hex(c.in), c.out) << c.in;
}

TEST(Md5, FedInPiecesGivesTheSameDigest)
{
    std::string text(1000, 'q');
    Md5Context c;
    md5_init(c);
    for (size_t i = 0; i < text.size(); i += 7) md5_update(c, text.data() + i, std::min<size_t>(7, text.size() - i));
    unsigned char digest[16];
    md5_final(digest, c);
    char hex[33];
    digest_to_hex(digest, hex);
    EXPECT_EQ(hex, md5_hex(text));
}

TEST(HmacMd5, Rfc2104Vectors)
{
    EXPECT_EQ(hmac_hex("Hi There", std::string(16, '\x0b')), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(hmac_hex("what do ya want for nothing?", "Jefe"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(hmac_hex(std::string(50, '\xdd'), std::string(16, '\xaa')), "56be34521d144c88dbb8c733f0e8b3f6");
    // RFC 2202's cases with a key longer than the block (80 bytes).
    EXPECT_EQ(hmac_hex("Test Using Larger Than Block-Size Key - Hash Key First", std::string(80, '\xaa')),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(hmac_hex("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
                       std::string(80, '\xaa')),
              "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(Digests, CramMd5AndApopSamples)
{
    // RFC 2195: challenge <1896.697170952@postoffice.reston.mci.net>, user tim, password tanstaaftanstaaf.
    string response = cram_md5_response("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+", "tim",
                                         "tanstaaftanstaaf");
    EXPECT_STREQ(response.c_str(), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n");
    // RFC 1939: time stamp <1896.697170952@dbc.mtview.ca.us>, secret tanstaaf.
    char digest[33];
    EXPECT_EQ(apop_digest("<1896.697170952@dbc.mtview.ca.us>tanstaaf", digest), 1);
    EXPECT_STREQ(digest, "c4c9334bac560ecc979e58001b3e22fb");
}
