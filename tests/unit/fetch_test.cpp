// The HTTP fetch against a loopback server: bodies streamed to the temporary file beside their
// target, status texts kept in memory, failures that leave nothing behind, timeouts and abort.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <functional>

#include "app/background_fetch.h"
#include "base/files.h"
#include "net/fetch.h"
#include "net/protocol.h"
#include "support/test_server.h"
#include "support/win_helpers.h"
#include "ui/texts.h"
#include "unit/progress_recorder.h"

namespace {

std::string Pattern(size_t size)
{
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 31 + 7) % 253);
    return body;
}

std::string AsText(const ByteBuffer& buffer)
{
    return std::string(buffer.begin(), buffer.end());
}

struct Fetched {
    FetchResult result = FetchResult::Failed;
    FetchedBody body;
    FetchReport report;
};

Fetched Fetch(const std::string& url, const std::wstring& target, DWORD timeoutMs = 0)
{
    Fetched out;
    FetchControl control;
    if (timeoutMs)
        control.timeoutMs = timeoutMs;
    out.result = FetchUrl(url, target, control, out.body, out.report);
    return out;
}

// Every file under a folder, recursively.
void ListFiles(const std::wstring& folder, std::vector<std::wstring>& files)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + L"\\" + name, files);
        else
            files.push_back(folder + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

const std::wstring Searching = text::StatusSearching;

}  // namespace

TEST(Fetch, BodiesOfStatusTextSizeStayInMemoryLongerOnesStreamToTheTemporaryFile)
{
    const struct { const char* name; Reply reply; } cases[] = {
        {"empty body, length 0", Reply{200, "", Reply::Length::Exact}},
        {"up-to-date text", Reply{200, UpToDateReply}},
        {"33 bytes", Reply{200, Pattern(33)}},
        {"no Content-Length", Reply{200, Pattern(100000), Reply::Length::None}},
        {"chunked", Reply{200, Pattern(100000), Reply::Length::Chunked}},
        {"pause mid-body", Reply{200, Pattern(200000), Reply::Length::Exact, 0, false, 700}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        TestServer server;
        server.Route("/body", {c.reply});
        const std::wstring target = dir / L"brellocantix_hwn.zip";
        ASSERT_TRUE(WriteFileBytes(target, "cached package"));
        Fetched f = Fetch(server.BaseUrl() + "/body", target);
        ASSERT_EQ(f.result, FetchResult::Complete) << c.name;
        const bool small = c.reply.body.size() <= 32;
        EXPECT_EQ(f.body.inTemporary, !small) << c.name;
        EXPECT_EQ(PathExists(TemporaryPathFor(target)), !small) << c.name;
        EXPECT_EQ(small ? AsText(f.body.small) : ReadFileOrEmpty(TemporaryPathFor(target)), c.reply.body) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(target), "cached package") << c.name << ": untouched until kept";
        EXPECT_EQ(f.report.received, c.reply.body.size()) << c.name;

        ASSERT_TRUE(KeepFetchedBody(f.body, target)) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(target), c.reply.body) << c.name;
        EXPECT_FALSE(PathExists(TemporaryPathFor(target))) << c.name;
    }
}

TEST(Fetch, SendsOneUncachedGetWithTheAgentSetupApp)
{
    TestServer server;
    server.Route("/vazid.php", {Reply{200, "first"}, Reply{200, "second"}});
    const std::string url = server.BaseUrl() + "/vazid.php?proid=AB12C&check=" + UpToDateReply;
    EXPECT_EQ(Fetch(url, L"").result, FetchResult::Complete);
    const Fetched second = Fetch(url, L"");  // the first reply said max-age=3600: still asked again
    EXPECT_EQ(AsText(second.body.small), "second");
    const std::vector<Request> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const Request& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.target, "/vazid.php?proid=AB12C&check=00000000000000000000000000000000");
        EXPECT_EQ(request.userAgent, "SetupApp");
    }
}

TEST(Fetch, ADroppedBodyIsReadToItsEndAndWrittenNowhere)
{
    ScratchDir dir;
    TestServer server;
    server.Route("/vazid.php", {Reply{200, Pattern(3000000)}});
    SetCurrentDirectoryW(dir.Path().c_str());
    const Fetched f = Fetch(server.BaseUrl() + "/vazid.php", L"");
    SetCurrentDirectoryW(ExeDir().c_str());
    EXPECT_EQ(f.result, FetchResult::Complete);
    EXPECT_EQ(f.report.received, 3000000u);
    EXPECT_FALSE(f.body.inTemporary);
    EXPECT_TRUE(f.body.small.empty());
    std::vector<std::wstring> files;
    ListFiles(dir.Path(), files);
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(server.Requests().at(0).completed);
}

TEST(Fetch, FiftyMegabytesStreamWhileTheWindowCountsEachWholePercentOnce)
{
    const size_t size = 50000000;
    ScratchDir dir;
    TestServer server;
    const std::string body = Pattern(size);
    server.Route("/big", {Reply{200, body}});
    ProgressRecorder progress;
    FetchedBody fetched;
    const ULONGLONG start = GetTickCount64();
    ASSERT_EQ(FetchInBackground(server.BaseUrl() + "/big", dir / L"big.zip", fetched), FetchResult::Complete);
    std::printf("50,000,000-byte fetch to file: %llu ms\n", GetTickCount64() - start);
    EXPECT_TRUE(fetched.inTemporary);
    EXPECT_TRUE(ReadFileOrEmpty(TemporaryPathFor(dir / L"big.zip")) == body);
    ASSERT_GE(progress.texts.size(), 2u);
    EXPECT_EQ(progress.texts.front(), Searching);
    int previous = -1;
    for (size_t i = 1; i < progress.texts.size(); ++i) {
        const int percent = std::stoi(progress.texts[i]);
        EXPECT_GT(percent, previous) << "the label changes only when the whole percentage does";
        previous = percent;
    }
    EXPECT_LE(progress.texts.size(), 102u);
    EXPECT_EQ(progress.texts.back(), std::wstring(L"100") + text::StatusPercentSuffix);
    EXPECT_EQ(progress.BarPosition(), 100);
}

TEST(Fetch, BrokenTransfersAndErrorPagesFailAndLeaveNothing)
{
    const uint64_t past4GiB = (uint64_t{1} << 32) + 1000;
    const struct { const char* name; Reply reply; } cases[] = {
        {"shorter than announced, clean close", Reply{200, Pattern(600000), Reply::Length::Longer, 4000}},
        {"shorter than announced, reset", Reply{200, Pattern(600000), Reply::Length::Longer, 4000, true}},
        // Read as 32 bits, this length would be 1000 and the body would look whole.
        {"announced past 4 GiB", Reply{200, Pattern(1000), Reply::Length::Longer, past4GiB - 1000}},
        {"404 error page", Reply{404, "<html>Not Found</html>"}},
        {"500 empty", Reply{500, ""}},
        {"500 long page", Reply{500, Pattern(100000)}},
        {"404 with 32 '0' in lower-case hex look-alike", Reply{404, std::string(30, '0') + "ff"}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        TestServer server;
        server.Route("/body", {c.reply});
        const std::wstring target = dir / L"package.zip";
        const Fetched f = Fetch(server.BaseUrl() + "/body", target);
        EXPECT_EQ(f.result, FetchResult::Failed) << c.name;
        EXPECT_FALSE(f.body.inTemporary) << c.name;
        EXPECT_TRUE(f.body.small.empty()) << c.name << ": no partial body is left behind";
        EXPECT_FALSE(PathExists(TemporaryPathFor(target))) << c.name;
        EXPECT_FALSE(PathExists(target)) << c.name;
        EXPECT_NE(f.report.failedStep, nullptr) << c.name;
    }
}

TEST(Fetch, StatusTextsKeepTheirMeaningWhateverTheStatus)
{
    for (const char* body : {NotFoundReply, UpToDateReply}) {
        ScratchDir dir;
        TestServer server;
        server.Route("/vazid.php", {Reply{404, body}});
        const Fetched f = Fetch(server.BaseUrl() + "/vazid.php", dir / L"package.zip");
        EXPECT_EQ(f.result, FetchResult::Complete) << body;
        EXPECT_EQ(AsText(f.body.small), body);
        EXPECT_EQ(f.report.httpStatus, 404u);
        EXPECT_FALSE(PathExists(dir / L"package.zip.part")) << "a status text is never written";
    }
}

TEST(Fetch, AnUnreachableServerFailsAtTheOpenWithItsErrorCode)
{
    ProgressRecorder progress;
    FetchedBody body;
    EXPECT_EQ(FetchInBackground(UnreachableUrl("/vazid.php"), L"", body), FetchResult::Failed);
    EXPECT_EQ(progress.Label(), Searching);
    const Fetched f = Fetch(UnreachableUrl("/vazid.php"), L"");
    EXPECT_EQ(std::wstring(f.report.failedStep), L"InternetOpenUrlA");
    EXPECT_EQ(f.report.error, static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
}

TEST(Fetch, AFileThatCannotBeWrittenStopsTheDownloadAtOnce)
{
    ScratchDir dir;
    TestServer server;
    server.Route("/big", {Reply{200, Pattern(30000000)}});
    // A folder stands where the temporary file would go.
    ASSERT_TRUE(CreateDirectoryW((dir / L"package.zip.part").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dir / L"package.zip", "cached package"));
    const Fetched f = Fetch(server.BaseUrl() + "/big", dir / L"package.zip");
    EXPECT_EQ(f.result, FetchResult::NotSaved);
    EXPECT_EQ(std::wstring(f.report.failedStep), L"CreateFileW");
    EXPECT_LT(f.report.received, 30000000u / 2) << "the rest of the body was not waited for";
    EXPECT_EQ(ReadFileOrEmpty(dir / L"package.zip"), "cached package");
}

TEST(Fetch, AWriteThatFailsMidwayStopsTheDownloadAndRemovesTheTemporaryFile)
{
    // The temporary file is a pipe whose reader goes away after a megabyte: a write fails then,
    // as on a full disk.
    const std::wstring target = L"\\\\.\\pipe\\dl-fetch-test";
    const HANDLE pipe = CreateNamedPipeW(TemporaryPathFor(target).c_str(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 65536, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    HANDLE reader = CreateThread(nullptr, 0, [](void* p) -> DWORD {
        const HANDLE h = static_cast<HANDLE>(p);
        ConnectNamedPipe(h, nullptr);
        std::vector<char> block(65536);
        size_t total = 0;
        DWORD got = 0;
        while (total < 1000000 && ReadFile(h, block.data(), 65536, &got, nullptr) && got > 0)
            total += got;
        CloseHandle(h);
        return 0;
    }, pipe, 0, nullptr);
    TestServer server;
    server.Route("/big", {Reply{200, Pattern(30000000)}});
    const Fetched f = Fetch(server.BaseUrl() + "/big", target);
    WaitForSingleObject(reader, 10000);
    CloseHandle(reader);
    EXPECT_EQ(f.result, FetchResult::NotSaved);
    EXPECT_EQ(std::wstring(f.report.failedStep ? f.report.failedStep : L""), L"WriteFile");
    EXPECT_GE(f.report.received, 1000000u);
    EXPECT_LT(f.report.received, 30000000u / 2);
}

TEST(Fetch, AServerThatStopsSendingFailsSoonAfterItsLastByte)
{
    // The test build's timeout is a few seconds (the release one 30 s). The window's watch on
    // the worker catches what WinINet's own timeouts miss: Wine's waits for reply headers and
    // for the rest of a body without end, whatever its receive timeout says.
    const DWORD limit = FetchControl().timeoutMs;
    const struct { const char* name; Reply reply; } cases[] = {
        {"accepts, never answers", Reply{200, Pattern(1000), Reply::Length::Exact, 0, false, 0, 120000}},
        {"stops mid-body", Reply{200, Pattern(2000000), Reply::Length::Exact, 0, false, 120000}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        TestServer server;
        server.Route("/body", {c.reply});
        ProgressRecorder progress;
        FetchedBody body;
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(FetchInBackground(server.BaseUrl() + "/body", dir / L"package.zip", body), FetchResult::Failed) << c.name;
        const ULONGLONG took = GetTickCount64() - start;
        std::printf("%s: failed after %llu ms (timeout %lu ms)\n", c.name, took, limit);
        EXPECT_GE(took, limit - 500) << c.name;
        EXPECT_LT(took, limit + 10000) << c.name;
        // A worker stuck in Wine's WinINet still holds the temporary file, deleted when it
        // closes (at the latest when the process ends, which the end-to-end tests look at).
    }
}

TEST(Fetch, NothingLandsInTheInternetCache)
{
    wchar_t cache[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache), S_OK);
    ScratchDir dir;
    TestServer server;
    std::string body = Pattern(300000);
    body.replace(0, 16, "unique-cache-tag");
    server.Route("/vazid/unzip.exe", {Reply{200, body}});
    ASSERT_EQ(Fetch(server.BaseUrl() + "/vazid/unzip.exe", dir / L"unzip.exe").result, FetchResult::Complete);
    std::vector<std::wstring> files;
    ListFiles(cache, files);
    for (const std::wstring& file : files)
        EXPECT_NE(ReadFileOrEmpty(file), body) << Narrow(file);
}

TEST(UnzipToolFetch, HasThreeOutcomesAndKeepsARunningToolIntact)
{
    ScratchDir dir;
    const std::wstring tool = dir / L"unzip.exe";
    EXPECT_EQ(FetchUnzipTool(UnreachableUrl("/vazid/unzip.exe"), tool), UnzipToolFetch::NotFetched);
    EXPECT_FALSE(FileExists(tool));

    TestServer server;
    server.Route("/vazid/unzip.exe", {Reply{404, "<html>no such file</html>"}});
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool), UnzipToolFetch::NotFetched);
    EXPECT_FALSE(FileExists(tool));  // an error page is never saved as a program

    const std::string body = Pattern(200000);
    server.Route("/vazid/unzip.exe", {Reply{200, body}});
    ASSERT_TRUE(CreateDirectoryW(tool.c_str(), nullptr));
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool), UnzipToolFetch::NotSaved);
    RemoveDirectoryW(tool.c_str());

    ASSERT_TRUE(WriteFileBytes(tool, "running tool"));
    const HANDLE running = CreateFileW(tool.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool), UnzipToolFetch::NotSaved);
    CloseHandle(running);
    EXPECT_EQ(ReadFileOrEmpty(tool), "running tool");
    EXPECT_FALSE(FileExists(TemporaryPathFor(tool)));

    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool), UnzipToolFetch::Saved);
    EXPECT_EQ(ReadFileOrEmpty(tool), body);

    // A status text is the query's answer, never a tool: with an error status it is no download.
    server.Route("/vazid/unzip.exe", {Reply{404, NotFoundReply}});
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool), UnzipToolFetch::NotFetched);
    EXPECT_EQ(ReadFileOrEmpty(tool), body);
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
