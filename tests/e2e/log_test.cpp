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
