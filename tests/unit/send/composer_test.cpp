// The composer on its own: one message written twice (a counting pass,
// then the bytes) is the same message, and a failing sink is a failure.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/byte_sink.h"
#include "send/message_composer.h"

namespace {

class FailingSink : public ByteSink {
public:
    explicit FailingSink(size_t room) : room_(room) {}
    void write(const char*, size_t length) override
    {
        if (length > room_) fail();
        room_ = length > room_ ? 0 : room_ - length;
    }

private:
    size_t room_;
};

Envelope envelope()
{
    Envelope e;
    e.from = "me@test.example";
    e.to = "you@test.example, them@test.example";
    e.cc = "copy@test.example";
    e.subject = "Twice";
    return e;
}

}  // namespace

TEST(Composer, CountingPassAndWritingPassAgree)
{
    char dir[] = "/tmp/tavrin-composer-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string file = std::string(dir) + "/data.bin";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < 100000; ++i) out.put(static_cast<char>(i * 7));
    }
    MessageComposer c;
    c.html = c.alternative = c.message_id = 1;
    ASSERT_TRUE(c.add_attachment(file.c_str(), "", 0));
    const std::string body = "<p>Hello</p>\r\n.dot\r\n";
    c.begin_message("test.example");
    CountingSink counted;
    MemorySink first, second;
    Envelope e = envelope();
    ASSERT_EQ(c.write_message(e, false, body.data(), body.size(), counted, true), 1);
    ASSERT_EQ(c.write_message(e, false, body.data(), body.size(), first, true), 1);
    ASSERT_EQ(c.write_message(e, false, body.data(), body.size(), second, true), 1);
    EXPECT_EQ(counted.count(), first.length());
    EXPECT_TRUE(first.bytes() == second.bytes());
    EXPECT_NE(first.bytes().find("multipart/mixed"), std::string::npos);
    // A new message gets new boundaries.
    c.begin_message("test.example");
    MemorySink third;
    ASSERT_EQ(c.write_message(e, false, body.data(), body.size(), third, true), 1);
    EXPECT_FALSE(third.bytes() == first.bytes());
    c.clear_attachments(0);
    std::remove(file.c_str());
    rmdir(dir);
}

TEST(Composer, AFailedWriteFailsTheMessage)
{
    for (size_t room : {0u, 100u, 5000u}) {
        MessageComposer c;
        std::string body(20000, 'x');
        FailingSink sink(room);
        c.begin_message("");
        EXPECT_EQ(c.write_message(envelope(), false, body.data(), body.size(), sink, true), -1) << room;
    }
}
