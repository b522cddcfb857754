// End to end: the progress window answers at every moment of a run, Cancel asks first and then
// stops the run with 1602 leaving nothing of a download behind; downloads stream to disk, through
// the system proxy, and a server that stops answering ends the run instead of hanging it.
#include <shlobj.h>

#include <random>

#include "e2e/e2e_fixture.h"

namespace {

const wchar_t CancelQuestion[] = L"Bạn có muốn hủy cài đặt không?";
const DWORD Cancelled = 1602;

// Bytes that do not compress, so the package is as large on the wire as on disk.
std::string Noise(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// A package served slowly: 20 pieces over about 4 s.
Reply Slowly(const std::string& body)
{
    Reply reply{200, body};
    reply.pieces = 20;
    reply.pieceDelayMs = 200;
    return reply;
}

// A package with Setup.exe and enough filler to be worth streaming.
std::string BigPackage(const std::string& note, size_t filler)
{
    return MakeZip({{"Setup.exe", Fixture(L"fake_setup.exe")}, {"readme.txt", note},
                    {"data.bin", Noise(filler, 7)}});
}

std::vector<std::wstring> FilesUnder(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::wstring& inner : FilesUnder(folder + L"\\" + name))
                files.push_back(inner);
        } else {
            files.push_back(folder + L"\\" + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

void ExpectAlwaysAnswered(const Outcome& out, const char* name)
{
    EXPECT_GT(out.probes, 50) << name << ": the window was asked often enough to tell";
    EXPECT_EQ(out.unanswered, 0) << name;
    EXPECT_LT(out.slowestAnswerMs, 200u) << name;
    std::printf("%s: %d probes, slowest answer %lu ms\n", name, out.probes, out.slowestAnswerMs);
}

}  // namespace

// ---- A window that never hangs ----------------------------------------------------------

TEST_F(EndToEnd, TheWindowAnswersThroughASlowDownloadThePausesTheErrorBoxAndTheToolWait)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.query = {Reply{200, Zeros}, Slowly(BigPackage("new", 3000000))};
    s.shell = L"fail:copy";
    s.unzipSleepMs = L"3000";
    s.probeWindow = true;
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, (Messages{CopyFailed}));
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(Started(out, L"setup").size(), 1u);
    ExpectAlwaysAnswered(out, "slow download, pause, Shell error box, tool wait");
}

TEST_F(EndToEnd, AServerThatStopsAnsweringEndsTheRunWithItsMessageAndTheWindowAlive)
{
    Reply silent{200, PackageWithSetup()};
    silent.stallBeforeHeadersMs = 120000;
    Reply stopsMidway{200, BigPackage("new", 2000000)};
    stopsMidway.pauseMidBodyMs = 120000;
    const struct { const char* name; bool update; Reply reply; const wchar_t* message; } cases[] = {
        {"first install, never answers", false, silent, FirstFetchFailed},
        {"update, stops in the middle of the package", true, stopsMidway, UpdateCheckFailed},
    };
    for (const auto& c : cases) {
        Scenario s;
        if (c.update) {
            s.cachedPackage = PackageWithSetup("cached");
            s.query = {Reply{200, Zeros}, c.reply};
        } else {
            s.query = {c.reply};
        }
        s.probeWindow = true;
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, Messages{c.message}) << c.name;
        EXPECT_EQ(out.exitCode, 1u) << c.name;
        // The test build's timeouts are 4 s (30 s in a release build) plus the watch's grace.
        EXPECT_LT(out.endedAt - out.startedAt, 30 * Second) << c.name;
        EXPECT_FALSE(PathExists(Package() + L".part")) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(Package()), s.cachedPackage) << c.name;
        ExpectAlwaysAnswered(out, c.name);
    }
}

// ---- Cancel --------------------------------------------------------------------------------

TEST_F(EndToEnd, CancelThenNoLetsTheDownloadAndTheRoadGoOnAsIfNothingHappened)
{
    Scenario s;
    const std::string package = BigPackage("v1", 2000000);
    s.query = {Slowly(package)};
    s.cancelAt = Scenario::CancelAt::Download;
    s.answerYes = false;
    const Outcome out = Run(s);
    EXPECT_EQ(out.questions, Messages{CancelQuestion});
    EXPECT_TRUE(out.questionWellFormed);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(out.exitCode, 1u);  // the Shell road's usual end: Setup.exe opened
    EXPECT_EQ(ReadFileOrEmpty(Package()), package);
    EXPECT_EQ(Started(out, L"setup").size(), 1u);
    ExpectQueries(out, 1, Zeros);
}

TEST_F(EndToEnd, CancelThenYesDuringTheFirstDownloadKeepsNothingAndSendsNothingMore)
{
    Scenario s;
    s.query = {Slowly(BigPackage("v1", 2000000))};
    s.cancelAt = Scenario::CancelAt::Download;
    const Outcome out = Run(s);
    EXPECT_EQ(out.questions, Messages{CancelQuestion});
    EXPECT_TRUE(out.messages.empty()) << "no error box after a cancel";
    EXPECT_EQ(out.exitCode, Cancelled);
    EXPECT_LT(out.endedAt - out.startedAt, 15 * Second) << "it stopped at once, not after the download";
    EXPECT_EQ(FilesUnder(dir->Path()), (std::vector<std::wstring>{dir->Path() + L"\\Download.exe",
                                                                  dir->Path() + L"\\Download.log"}))
        << "no package, no temporary file";
    EXPECT_LE(out.requests.size(), 1u);
    EXPECT_TRUE(Started(out, L"setup").empty());
}

TEST_F(EndToEnd, CancelThenYesDuringTheUpdateDownloadKeepsTheCachedPackageAndFetchesNoTool)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.earlierSetup = Fixture(L"fake_setup.exe");
    s.query = {Reply{200, Zeros}, Slowly(BigPackage("new", 2000000))};
    s.cancelAt = Scenario::CancelAt::Download;
    const Outcome out = Run(s);
    EXPECT_EQ(out.exitCode, Cancelled);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(ReadFileOrEmpty(Package()), s.cachedPackage);
    EXPECT_FALSE(PathExists(Package() + L".part"));
    EXPECT_EQ(ReadFileOrEmpty(Trace()), Md5Hex(s.cachedPackage));
    EXPECT_FALSE(PathExists(Tool()));
    for (const Request& request : out.requests)
        EXPECT_NE(request.target, "/vazid/unzip.exe");
    EXPECT_TRUE(Started(out, L"setup").empty());
}

TEST_F(EndToEnd, EscapeAndTheCloseBoxAskTheSameQuestion)
{
    for (const auto by : {Scenario::CancelBy::Escape, Scenario::CancelBy::CloseBox}) {
        Scenario s;
        s.query = {Slowly(BigPackage("v1", 1000000))};
        s.cancelAt = Scenario::CancelAt::Download;
        s.cancelBy = by;
        const Outcome out = Run(s);
        EXPECT_EQ(out.questions, Messages{CancelQuestion}) << static_cast<int>(by);
        EXPECT_TRUE(out.questionWellFormed) << static_cast<int>(by);
        EXPECT_EQ(out.exitCode, Cancelled) << static_cast<int>(by);
        EXPECT_FALSE(PathExists(Package())) << static_cast<int>(by);
    }
}

TEST_F(EndToEnd, CancelThenYesDuringThePauseBeforeUnpackingUnpacksNothing)
{
    Scenario s;
    s.query = {Reply{200, PackageWithSetup()}};
    s.cancelAt = Scenario::CancelAt::Pause;
    const Outcome out = Run(s);
    EXPECT_EQ(out.exitCode, Cancelled);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_TRUE(Started(out, L"shell-copy").empty());
    EXPECT_FALSE(PathExists(Installer()));
}

TEST_F(EndToEnd, CancelThenYesDuringTheToolWaitEndsWithoutOpeningSetup)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.query = {Reply{200, PackageWithSetup("new")}};
    s.shell = L"fail:copy";
    s.unzipSleepMs = L"6000";
    s.cancelAt = Scenario::CancelAt::ToolWait;
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{CopyFailed});
    EXPECT_EQ(out.exitCode, Cancelled);
    const auto tools = Started(out, L"unzip");
    ASSERT_EQ(tools.size(), 1u);
    EXPECT_LT(out.endedAt - tools[0]->ticks, 5 * Second) << "the wait ended with the answer";
    // The tool is left to finish its work; the program opens nothing after it.
    EXPECT_TRUE(WaitUntil([&] { return PathExists(Installer()); }, 15000));
    Sleep(500);
    Outcome later;
    later.log = ReadFixtureLog(Log());
    EXPECT_EQ(Started(later, L"unzip").size(), 1u);
    EXPECT_TRUE(Started(later, L"setup").empty());
}

TEST_F(EndToEnd, CancelWhileAnErrorBoxIsOpenDoesNothing)
{
    Scenario s;
    s.serverUp = false;
    s.cancelAt = Scenario::CancelAt::ErrorBox;
    const Outcome out = Run(s);
    EXPECT_TRUE(out.cancelClicked);
    EXPECT_TRUE(out.questions.empty());
    EXPECT_TRUE(out.windowVisibleAfterClick);
    EXPECT_EQ(out.messages, Messages{FirstFetchFailed});
    EXPECT_EQ(out.exitCode, 1u);
}

// ---- Streaming, cache, proxy -----------------------------------------------------------------

TEST_F(EndToEnd, ALargePackageStreamsToDiskAndLeavesNoCopyInTheInternetCache)
{
    Scenario s;
    const std::string package = BigPackage("large", 40000000);
    s.query = {Reply{200, package}};
    const Outcome out = Run(s);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_TRUE(ReadFileOrEmpty(Package()) == package);
    EXPECT_FALSE(PathExists(Package() + L".part"));
    // The installer writes its line once it runs, which on a busy machine may be after our end.
    Outcome later;
    EXPECT_TRUE(WaitUntil([&] {
        later.log = ReadFixtureLog(Log());
        return Started(later, L"setup").size() == 1;
    }, 5000));
    wchar_t cache[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, cache), S_OK);
    for (const std::wstring& file : FilesUnder(cache)) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data);
        EXPECT_LT(data.nFileSizeLow + (static_cast<uint64_t>(data.nFileSizeHigh) << 32), 1000000u) << Narrow(file);
    }
}

TEST_F(EndToEnd, TheSystemProxyCarriesBothRoadsRequests)
{
    Scenario s;
    s.viaProxy = true;
    s.cachedPackage = PackageWithSetup("cached");
    s.query = {Reply{200, PackageWithSetup("new")}};
    s.shell = L"fail:create";
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{L"Không thể tạo Shell Dispatch."});
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(ReadFileOrEmpty(InstallFolder() + L"\\readme.txt"), "new");
    ASSERT_EQ(out.requests.size(), 3u);
    // What the proxy was asked for: the whole URL (Wine's WinINet names the default port too).
    const auto viaProxy = [](const Request& request, const std::string& path) {
        const std::string base = TEST_SERVER_BASE;
        return request.absoluteTarget == base + path || request.absoluteTarget == base + ":80" + path;
    };
    EXPECT_TRUE(viaProxy(out.requests[0], Query(Md5Hex(s.cachedPackage)))) << out.requests[0].absoluteTarget;
    EXPECT_TRUE(viaProxy(out.requests[1], Query(Md5Hex(s.cachedPackage)))) << out.requests[1].absoluteTarget;
    EXPECT_TRUE(viaProxy(out.requests[2], "/vazid/unzip.exe")) << out.requests[2].absoluteTarget;
}
