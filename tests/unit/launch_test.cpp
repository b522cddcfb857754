// Fetching and starting the unzip tool, and opening the installer, with the fixture programs.
#include <gtest/gtest.h>

#include <objbase.h>

#include "app/names.h"
#include "support/test_server.h"
#include "support/win_helpers.h"
#include "unit/box_watcher.h"
#include "unpack/launch.h"
#include "fixtures/zip_file.h"

namespace {

std::string FixtureBytes(const wchar_t* name)
{
    return ReadFileOrEmpty(ExeDir() + L"\\" + name);
}

// Lines of the fixture log: who|ticks|command line|working directory.
std::vector<std::vector<std::wstring>> LogLines(const std::wstring& log)
{
    std::vector<std::vector<std::wstring>> lines;
    const std::wstring content = WideUtf8(ReadFileOrEmpty(log));
    size_t start = 0;
    while (start < content.size()) {
        const size_t end = content.find(L'\n', start);
        const std::wstring line = content.substr(start, end - start);
        std::vector<std::wstring> fields;
        size_t from = 0;
        for (size_t bar; (bar = line.find(L'|', from)) != std::wstring::npos; from = bar + 1)
            fields.push_back(line.substr(from, bar - from));
        fields.push_back(line.substr(from));
        lines.push_back(fields);
        start = end == std::wstring::npos ? content.size() : end + 1;
    }
    return lines;
}

class ToolEnvironment {
public:
    explicit ToolEnvironment(const std::wstring& log) { SetEnvironmentVariableW(L"DL_FIXTURE_LOG", log.c_str()); }
    ~ToolEnvironment() { SetEnvironmentVariableW(L"DL_FIXTURE_LOG", nullptr); }
};

}  // namespace

TEST(UnzipToolFetch, HasThreeOutcomes)
{
    ScratchDir dir;
    const std::wstring tool = dir / L"unzip.exe";
    ByteBuffer buffer{'z', 'i', 'p'};

    EXPECT_EQ(FetchUnzipTool(UnreachableUrl("/vazid/unzip.exe"), tool, buffer), UnzipToolFetch::NotFetched);
    EXPECT_FALSE(FileExists(tool));

    TestServer server;
    server.Route("/vazid/unzip.exe", {Reply{404, "<html>no such file</html>"}});
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool, buffer), UnzipToolFetch::NotFetched);
    EXPECT_FALSE(FileExists(tool));  // an error page is never saved as a program

    const std::string body = FixtureBytes(L"unzip.exe");
    server.Route("/vazid/unzip.exe", {Reply{200, body}});
    ASSERT_TRUE(CreateDirectoryW(tool.c_str(), nullptr));
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool, buffer), UnzipToolFetch::NotSaved);
    RemoveDirectoryW(tool.c_str());

    ASSERT_TRUE(WriteFileBytes(tool, "running tool"));
    const HANDLE running = CreateFileW(tool.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool, buffer), UnzipToolFetch::NotSaved);
    CloseHandle(running);
    EXPECT_EQ(ReadFileOrEmpty(tool), "running tool");

    EXPECT_EQ(FetchUnzipTool(server.BaseUrl() + "/vazid/unzip.exe", tool, buffer), UnzipToolFetch::Saved);
    EXPECT_EQ(ReadFileOrEmpty(tool), body);
    EXPECT_EQ(buffer.size(), body.size());  // the package bytes it held are gone
}

TEST(UnzipToolRun, UnpacksIntoTheProgramDirWhateverOurWorkingDirectory)
{
    ScratchDir dir(L"dl program dir with blanks");
    ScratchDir elsewhere;
    const InstallPaths paths = ComposeInstallPaths(dir.Path());
    ASSERT_TRUE(WriteFileBytes(paths.tool, FixtureBytes(L"unzip.exe")));
    ASSERT_TRUE(WriteFileBytes(paths.package, MakeZip({{"Setup.exe", "setup"}, {"sub/a.txt", "a"}})));
    ToolEnvironment log(dir / L"log.txt");
    wchar_t ownDir[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, ownDir);
    SetCurrentDirectoryW(elsewhere.Path().c_str());

    PROCESS_INFORMATION process = {};
    const bool started = RunUnzipTool(paths.tool, paths.unzipCommandLine, dir.Path(), process);
    SetCurrentDirectoryW(ownDir);
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadFileOrEmpty(paths.installer), "setup");
    EXPECT_EQ(ReadFileOrEmpty(paths.installFolder + L"\\sub\\a.txt"), "a");
    EXPECT_FALSE(FileExists(elsewhere / L"Setup BRELLOCANTIX"));
    const auto lines = LogLines(dir / L"log.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][2], paths.unzipCommandLine);
    EXPECT_EQ(lines[0][3], dir.Path());
}

TEST(UnzipToolRun, FailsForAFileThatIsNoProgram)
{
    for (const char* content : {"", "<html>error page</html>", "MZ truncated"}) {
        ScratchDir dir;
        const InstallPaths paths = ComposeInstallPaths(dir.Path());
        ASSERT_TRUE(WriteFileBytes(paths.tool, content));
        PROCESS_INFORMATION process = {};
        EXPECT_FALSE(RunUnzipTool(paths.tool, paths.unzipCommandLine, dir.Path(), process)) << content;
    }
}

TEST(InstallerLaunch, OpensSetupOrReportsThatItCouldNot)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ScratchDir dir;
    const InstallPaths paths = ComposeInstallPaths(dir.Path());
    ToolEnvironment log(dir / L"log.txt");
    BoxWatcher person;

    // Nothing there: a failure for the caller to report, and no box of the Shell's own.
    EXPECT_EQ(LaunchSetup(paths.installer, TrustPolicy{}), LaunchResult::Failed);
    Sleep(500);
    EXPECT_TRUE(person.texts.empty());
    EXPECT_FALSE(FileExists(dir / L"log.txt"));

    ASSERT_TRUE(CreateDirectoryW(paths.installFolder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(paths.installer, FixtureBytes(L"fake_setup.exe")));
    EXPECT_EQ(LaunchSetup(paths.installer, TrustPolicy{}), LaunchResult::Started);
    EXPECT_TRUE(WaitUntil([&] { return !LogLines(dir / L"log.txt").empty(); }, 10000));
    const auto lines = LogLines(dir / L"log.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0][0], L"setup");
    EXPECT_NE(lines[0][2].find(L"Setup.exe"), std::wstring::npos);
    person.Stop();
    CoUninitialize();
}
