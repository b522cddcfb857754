// End to end: the Download.log a real run leaves in its program folder, and runs whose log
// cannot be written.
#include "e2e/e2e_fixture.h"
#include "e2e/run_log_reader.h"

#include <regex>

namespace {

const size_t Cap = 1024 * 1024;

// Puts an earlier log in the program folder before the start, read-only or held open without
// sharing by this test (as another program would) while the run goes on.
class RunLog : public EndToEnd {
protected:
    void Prepare(const Scenario& s) override
    {
        EndToEnd::Prepare(s);
        if (earlierLog.empty())
            return;
        ASSERT_TRUE(WriteFileBytes(LogPath(), earlierLog));
        ASSERT_TRUE(WriteFileBytes(OldLogPath(), "previous old log"));
        if (readOnlyLog)
            SetFileAttributesW(LogPath().c_str(), FILE_ATTRIBUTE_READONLY);
        if (holdLog) {
            held = CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
    }

    void TearDown() override { Release(); }

    void Release()
    {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
        if (dir)
            SetFileAttributesW(LogPath().c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    std::wstring LogPath() const { return dir->Path() + L"\\Download.log"; }
    std::wstring OldLogPath() const { return dir->Path() + L"\\Download.old.log"; }

    std::string earlierLog;
    bool readOnlyLog = false;
    bool holdLog = false;
    HANDLE held = INVALID_HANDLE_VALUE;
};

}  // namespace

TEST_F(RunLog, ARunOpensWithItsHeaderLogsItsMessagesAndClosesWithItsExitCode)
{
    const struct {
        const char* name;
        Scenario s;
        DWORD exitCode;
    } cases[] = {
        {"not found, started from another folder", [] {
             Scenario s;
             s.query = {Reply{404, NotFound}};
             s.workElsewhere = true;
             return s;
         }(), 1},
        {"up to date", [] {
             Scenario s;
             s.cachedPackage = PackageWithSetup();
             s.earlierSetup = Fixture(L"fake_setup.exe");
             s.query = {Reply{200, Zeros}};
             return s;
         }(), 0},
    };
    for (const auto& c : cases) {
        const Outcome out = Run(c.s);
        ASSERT_EQ(out.exitCode, c.exitCode) << c.name;
        const std::vector<RunLogLine> log = ReadRunLog(LogPath());
        ASSERT_GE(log.size(), 2u) << c.name;

        const std::wstring working = c.s.workElsewhere ? elsewhere->Path() : dir->Path();
        const std::wstring header = log.front().text;
        EXPECT_TRUE(std::regex_match(header, std::wregex(LR"(start Download 12\.0\.0\.0, Windows \d+\.\d+\.\d+, elevated (yes|no), .*)")))
            << Narrow(header);
        EXPECT_EQ(header.substr(header.find(L", program ")),
                  L", program " + dir->Path() + L", working " + working + L", server " + WideUtf8(TEST_SERVER_BASE));
        EXPECT_EQ(log.back().text, L"exit " + std::to_wstring(c.exitCode)) << c.name;
        EXPECT_EQ(RunLogMessages(log), out.messages) << c.name;
        for (const RunLogLine& line : log)
            EXPECT_TRUE(std::regex_match(line.stamp, std::wregex(LR"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})")))
                << Narrow(line.stamp);
    }
}

TEST_F(RunLog, AClosedCodeDialogLeavesNoLog)
{
    Scenario s;
    s.closeDialog = true;
    const Outcome out = Run(s);
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_FALSE(PathExists(LogPath()));
}

TEST_F(RunLog, AFailedShellStepIsNamedWithItsHresult)
{
    const struct {
        const wchar_t* script;
        const wchar_t* line;
    } cases[] = {
        {L"fail:package", L"shell step NameSpace(package) failed: 0x80004005 ("},
        {L"null:target", L"shell step NameSpace(target) failed: 0x00000000 with no object"},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.query = {Reply{200, PackageWithSetup()}};
        s.shell = c.script;
        const Outcome out = Run(s);
        const std::vector<std::wstring> steps = RunLogTexts(ReadRunLog(LogPath()), L"shell step ");
        ASSERT_EQ(steps.size(), 1u) << Narrow(c.script);
        EXPECT_EQ(steps[0].rfind(c.line, 0), 0u) << Narrow(steps[0]);
        EXPECT_EQ(out.messages.size(), 1u) << Narrow(c.script);
    }
}

TEST_F(RunLog, ALogThatCannotBeWrittenChangesNothingInTheRun)
{
    // The Shell fails and the unzip tool takes over: messages, two downloads, files written,
    // a program started. Each run below must end exactly like the first, whose log is writable.
    Scenario s;
    const std::string package = PackageWithSetup();
    s.query = {Reply{200, package}};
    s.shell = L"null:target";
    const std::string earlier = "2024-01-01 00:00:00.000 earlier run\r\n";
    const struct {
        const char* name;
        bool readOnly, hold;
    } cases[] = {{"writable", false, false}, {"read-only", true, false}, {"held without sharing", false, true}};
    Outcome first;
    for (const auto& c : cases) {
        earlierLog = earlier;
        readOnlyLog = c.readOnly;
        holdLog = c.hold;
        const Outcome out = Run(s);
        Release();
        ASSERT_FALSE(HasFatalFailure()) << c.name;
        EXPECT_EQ(out.messages, Messages{L"Không thể mở thư mục đích."}) << c.name;
        EXPECT_EQ(out.exitCode, 0u) << c.name;
        EXPECT_EQ(out.requests.size(), 2u) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(Package()), package) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(Tool()), Fixture(L"unzip.exe")) << c.name;
        EXPECT_EQ(Started(out, L"unzip").size(), 1u) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(OldLogPath()), "previous old log") << c.name;
        const std::string log = ReadFileOrEmpty(LogPath());
        if (c.readOnly || c.hold) {
            EXPECT_EQ(log, earlier) << c.name;
        } else {
            EXPECT_GT(log.size(), earlier.size()) << c.name;  // the scenario does write a log
        }
    }
}

TEST_F(RunLog, ALogPastOneMebibyteIsRotated)
{
    Scenario s;
    s.query = {Reply{404, NotFound}};
    earlierLog = std::string(Cap + 1, 'x');
    const Outcome out = Run(s);
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_EQ(ReadFileOrEmpty(OldLogPath()), earlierLog);
    const std::vector<RunLogLine> log = ReadRunLog(LogPath());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front().text.rfind(L"start Download ", 0), 0u);
    EXPECT_EQ(log.back().text, L"exit 1");
}

TEST_F(RunLog, EachFailureIsLoggedWithItsCause)
{
    const std::string package = PackageWithSetup();
    const std::wstring size = std::to_wstring(package.size());
    Reply cutShort{200, package};
    cutShort.length = Reply::Length::Longer;
    cutShort.extraAnnounced = 5000;
    Reply slow{200, package};  // slow enough to click Cancel during it
    slow.pieces = 20;
    slow.pieceDelayMs = 200;
    const auto firstInstall = [](const Reply& reply) {
        Scenario s;
        s.query = {reply};
        return s;
    };
    const auto upToDateWithoutInstaller = [](const wchar_t* exe) {
        Scenario s;
        s.cachedPackage = "not even a zip";
        s.query = {Reply{200, Zeros}};
        s.exe = exe;
        return s;
    };
    const std::wstring fetched = L"GET {first} -> ";
    const std::wstring intoPart = L", {ms}, for {dir}\\brellocantix_hwn.zip; failed: ";

    const struct {
        const char* name;
        Scenario s;
        std::wstring cause;  // the one line that names it
        Messages messages;
        DWORD exitCode;
    } cases[] = {
        {"server down", [] {
             Scenario s;
             s.serverUp = false;
             return s;
         }(), fetched + L"failed; HTTP 0, announced none, received 0" + intoPart + L"InternetOpenUrlA, error 12029{why}",
         {FirstFetchFailed}, 1},
        {"HTTP 500", firstInstall(Reply{500, "<html>server error</html>"}),
         fetched + L"failed; HTTP 500, announced 25, received 25" + intoPart + L"HTTP status", {FirstFetchFailed}, 1},
        {"body cut short", firstInstall(cutShort),
         fetched + L"failed; HTTP 200, announced " + std::to_wstring(package.size() + 5000) + L", received " + size +
             intoPart + L"body shorter than announced",
         {FirstFetchFailed}, 1},
        {"package not written", [&] {
             Scenario s;
             s.query = {Reply{200, package}};
             s.packageTempIsFolder = true;
             return s;
         }(), fetched + L"not saved; HTTP 200, announced " + size + L", received {n}" + intoPart + L"CreateFileW, error 5{why}",
         {PackageNotSaved}, 1},
        {"tool is no program", [&] {
             Scenario s;
             s.query = {Reply{200, package}};
             s.shell = L"fail:copy";
             s.tool = {Reply{200, "this is not a program"}};
             return s;
         }(), L"unzip tool not started: {cmd}, error 193{why}", {CopyFailed, ToolNotStarted}, 1},
        {"no installer to open", upToDateWithoutInstaller(L"Download.exe"), L"installer not opened: {setup}, error 3{why}",
         {L"Không mở được Setup.exe."}, 1},
        {"no installer to check", upToDateWithoutInstaller(L"Download_signed.exe"), L"installer not opened: {setup}, error 3{why}",
         {L"Không mở được Setup.exe."}, 1},
        {"Cancel", [&] {
             Scenario s = firstInstall(slow);
             s.cancelAt = Scenario::CancelAt::Download;
             return s;
         }(), L"cancelled by the user", {}, 1602},
    };
    for (const auto& c : cases) {
        const Outcome out = Run(c.s);
        ASSERT_FALSE(HasFatalFailure()) << c.name;
        EXPECT_EQ(out.messages, c.messages) << c.name;
        EXPECT_EQ(out.exitCode, c.exitCode) << c.name;
        const std::vector<RunLogLine> log = ReadRunLog(LogPath());
        ASSERT_GE(log.size(), 2u) << c.name;
        EXPECT_EQ(log.back().text, L"exit " + std::to_wstring(c.exitCode)) << c.name;

        const std::wregex cause = RunLogPattern(
            c.cause, {{L"first", WideUtf8(TEST_SERVER_BASE + Query(Zeros))}, {L"dir", dir->Path()},
                      {L"cmd", L"\"" + Tool() + L"\" brellocantix_hwn.zip -d \"Setup BRELLOCANTIX\""},
                      {L"setup", Installer()}});
        std::vector<size_t> found;
        size_t lastMessage = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            if (std::regex_match(log[i].text, cause))
                found.push_back(i);
            if (log[i].text.rfind(L"message \"", 0) == 0)
                lastMessage = i;
        }
        std::string lines;
        for (const RunLogLine& line : log)
            lines += "\n  " + Narrow(line.text);
        EXPECT_EQ(found.size(), 1u) << c.name << ", expected " << Narrow(c.cause) << " in" << lines;
        if (found.size() != 1)
            continue;
        // Told as it happened: before the message it led to, or the run's end.
        EXPECT_LT(found[0], c.messages.empty() ? log.size() - 1 : lastMessage) << c.name << lines;
    }
}
