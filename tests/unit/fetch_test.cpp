// The HTTP fetch against a loopback server, and saving a buffer to disk.
#include <gtest/gtest.h>

#include "app/names.h"
#include "net/fetch.h"
#include "net/protocol.h"
#include "support/test_server.h"
#include "support/win_helpers.h"
#include "ui/texts.h"
#include "unit/progress_recorder.h"

namespace {

bool Fetch(const std::string& url, ByteBuffer& buffer)
{
    const HINTERNET session = OpenInternetSession();
    return session && DownloadToBuffer(url, buffer, session);
}

std::string AsText(const ByteBuffer& buffer)
{
    return std::string(buffer.begin(), buffer.end());
}

std::string Pattern(size_t size)
{
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 31 + 7) % 253);
    return body;
}

int PercentOf(const std::wstring& label)
{
    return std::stoi(label);
}

const std::wstring Searching = text::StatusSearching;
const std::wstring ZeroPercent = std::wstring(L"0") + text::StatusPercentSuffix;

}  // namespace

TEST(Fetch, CompleteBodiesArriveWhole)
{
    const struct {
        const char* name;
        Reply reply;
        std::vector<std::wstring> labels;  // empty: not checked here
    } cases[] = {
        {"empty body, length 0", Reply{200, "", Reply::Length::Exact}, {Searching, ZeroPercent}},
        {"no Content-Length", Reply{200, Pattern(10000), Reply::Length::None}, {Searching, ZeroPercent}},
        {"chunked", Reply{200, Pattern(10000), Reply::Length::Chunked}, {Searching, ZeroPercent}},
        {"pause mid-body", Reply{200, Pattern(20000), Reply::Length::Exact, 0, false, 700}, {}},
    };
    for (const auto& c : cases) {
        TestServer server;
        server.Route("/body", {c.reply});
        ProgressRecorder progress;
        ByteBuffer buffer(5, 'x');
        EXPECT_TRUE(Fetch(server.BaseUrl() + "/body", buffer)) << c.name;
        EXPECT_EQ(AsText(buffer), c.reply.body) << c.name;
        if (!c.labels.empty()) {
            EXPECT_EQ(progress.texts, c.labels) << c.name;
        }
    }
}

TEST(Fetch, SendsOneUncachedGetWithTheAgentSetupApp)
{
    TestServer server;
    server.Route("/vazid.php", {Reply{200, "first"}, Reply{200, "second"}});
    ByteBuffer buffer;
    const std::string url = server.BaseUrl() + "/vazid.php?proid=AB12C&check=" + UpToDateReply;
    ASSERT_TRUE(Fetch(url, buffer));
    ASSERT_TRUE(Fetch(url, buffer));  // the first reply said max-age=3600: still asked again
    EXPECT_EQ(AsText(buffer), "second");  // the second body replaced the first
    const std::vector<Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const Request& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, "/vazid.php?proid=AB12C&check=00000000000000000000000000000000");
        EXPECT_EQ(request.userAgent, "SetupApp");
    }
}

TEST(Fetch, FiftyMegabytesCountUpToExactlyOneHundred)
{
    const size_t size = 50000000;
    TestServer server;
    server.Route("/big", {Reply{200, Pattern(size)}});
    ProgressRecorder progress;
    ByteBuffer buffer;
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(Fetch(server.BaseUrl() + "/big", buffer));
    std::printf("50,000,000-byte fetch: %llu ms\n", GetTickCount64() - start);
    ASSERT_EQ(buffer.size(), size);
    EXPECT_TRUE(AsText(buffer) == Pattern(size));
    ASSERT_GE(progress.texts.size(), 2u);
    EXPECT_EQ(progress.texts.front(), Searching);
    int previous = 0;
    for (size_t i = 1; i < progress.texts.size(); ++i) {
        const int percent = PercentOf(progress.texts[i]);
        EXPECT_GE(percent, previous);
        previous = percent;
    }
    EXPECT_EQ(progress.texts.back(), std::wstring(L"100") + text::StatusPercentSuffix);
    EXPECT_EQ(progress.BarPosition(), 100);
}

TEST(Fetch, BrokenTransfersAndErrorPagesFail)
{
    const struct { const char* name; Reply reply; } cases[] = {
        {"shorter than announced, clean close", Reply{200, Pattern(6000), Reply::Length::Longer, 4000}},
        {"shorter than announced, reset", Reply{200, Pattern(6000), Reply::Length::Longer, 4000, true}},
        {"404 error page", Reply{404, "<html>Not Found</html>"}},
        {"500 empty", Reply{500, ""}},
        {"500 long page", Reply{500, Pattern(100000)}},
        {"404 with 32 '0' in lower-case hex look-alike", Reply{404, std::string(30, '0') + "ff"}},
    };
    for (const auto& c : cases) {
        TestServer server;
        server.Route("/body", {c.reply});
        ByteBuffer buffer(5, 'x');
        EXPECT_FALSE(Fetch(server.BaseUrl() + "/body", buffer)) << c.name;
        EXPECT_TRUE(buffer.empty()) << c.name << ": no partial body is left behind";
    }
}

TEST(Fetch, StatusTextsKeepTheirMeaningWhateverTheStatus)
{
    for (const char* body : {NotFoundReply, UpToDateReply}) {
        TestServer server;
        server.Route("/vazid.php", {Reply{404, body}});
        ByteBuffer buffer;
        EXPECT_TRUE(Fetch(server.BaseUrl() + "/vazid.php", buffer)) << body;
        EXPECT_EQ(AsText(buffer), body);
    }
}

TEST(Fetch, AnUnreachableUrlLeavesTheBufferAsItWas)
{
    ProgressRecorder progress;
    ByteBuffer buffer{'o', 'l', 'd'};
    EXPECT_FALSE(Fetch(UnreachableUrl("/vazid.php"), buffer));
    EXPECT_EQ(AsText(buffer), "old");
    EXPECT_EQ(progress.Label(), Searching);
}

TEST(SaveBuffer, WritesExactlyTheBytes)
{
    ScratchDir dir;
    const std::wstring target = dir / L"brellocantix_hwn.zip";
    EXPECT_TRUE(SaveBuffer(ByteBuffer(), target));
    std::string content;
    ASSERT_TRUE(ReadFileBytes(target, content));
    EXPECT_EQ(content, "");

    ASSERT_TRUE(WriteFileBytes(target, std::string(10000, 'o')));
    const std::string bytes = "PK\r\n\x1a\n\0tail";
    EXPECT_TRUE(SaveBuffer(ByteBuffer(bytes.begin(), bytes.end()), target));
    EXPECT_EQ(ReadFileOrEmpty(target), bytes);  // binary, and nothing of the longer old file
    EXPECT_FALSE(FileExists(target + L".part"));
}

TEST(SaveBuffer, FailsWithoutTouchingWhatWasThere)
{
    ScratchDir dir;
    const ByteBuffer body{'n', 'e', 'w'};
    ASSERT_TRUE(CreateDirectoryW((dir / L"folder.zip").c_str(), nullptr));
    EXPECT_FALSE(SaveBuffer(body, dir / L"folder.zip"));
    EXPECT_FALSE(FileExists(dir / L"folder.zip.part"));

    EXPECT_FALSE(SaveBuffer(body, dir / L"missing\\file.zip"));

    // A file in use without sharing (a running unzip.exe, say) keeps its content.
    const std::wstring busy = dir / L"unzip.exe";
    ASSERT_TRUE(WriteFileBytes(busy, "old tool"));
    const HANDLE holder = CreateFileW(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SaveBuffer(body, busy));
    CloseHandle(holder);
    EXPECT_EQ(ReadFileOrEmpty(busy), "old tool");
}
