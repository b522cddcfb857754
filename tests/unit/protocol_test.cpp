// Query and tool URLs, and how a reply body is classified.
#include <gtest/gtest.h>

#include "app/names.h"
#include "app/build_values.h"
#include "net/protocol.h"

TEST(ServerUrls, AreComposedWithoutEscaping)
{
    EXPECT_EQ(BuildQueryBase("http://dl.example", "AB12C"),
              "http://dl.example/vazid.php?proid=AB12C&check=");
    EXPECT_EQ(BuildQueryBase("http://dl.example", ""), "http://dl.example/vazid.php?proid=&check=");
    EXPECT_EQ(BuildQueryBase("http://dl.example", "AB12C") + UpToDateReply,
              "http://dl.example/vazid.php?proid=AB12C&check=00000000000000000000000000000000");
    EXPECT_EQ(BuildUnzipToolUrl("http://dl.example"), "http://dl.example/vazid/unzip.exe");
    // Query base: base + 29 characters for a five-character code; tool URL: base + 16.
    EXPECT_EQ(BuildQueryBase("B", "AB12C").size(), 1u + 29u);
    EXPECT_EQ(BuildUnzipToolUrl("B").size(), 1u + 16u);
}

TEST(ServerUrls, TheBuiltInBaseIsAnHttpOrHttpsOriginWithoutTrailingSlash)
{
    const std::string base = ServerBase();
    EXPECT_TRUE(base.rfind("http://", 0) == 0 || base.rfind("https://", 0) == 0) << base;
    EXPECT_NE(base.back(), '/');
}

TEST(ClassifyReply, AcceptsOnlyTheExactStatusTexts)
{
    const std::string zeros(32, '0');
    const struct { std::string body; ReplyClass expected; } cases[] = {
        {NotFoundReply, ReplyClass::NotFound},
        {UpToDateReply, ReplyClass::UpToDate},
        {std::string(30, '0') + "ff", ReplyClass::Package},
        {std::string(30, '0') + "Ff", ReplyClass::Package},
        {zeros + "\n", ReplyClass::Package},
        {std::string(31, '0'), ReplyClass::Package},
        {"", ReplyClass::Package},
        {std::string(31, '0') + '\0', ReplyClass::Package},
        {" " + std::string(31, '0'), ReplyClass::Package},
        {std::string(NotFoundReply) + NotFoundReply, ReplyClass::Package},
        {"PK\x03\x04 a zip body", ReplyClass::Package},
    };
    for (const auto& c : cases) {
        const ByteBuffer body(c.body.begin(), c.body.end());
        EXPECT_EQ(ClassifyReply(body), c.expected) << '"' << c.body << '"';
    }
}
