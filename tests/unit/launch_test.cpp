// Starting the unzip tool and opening the installer, with the fixture programs.
#include <gtest/gtest.h>

#include <objbase.h>

#include "app/names.h"
#include "support/test_server.h"
#include "support/win_helpers.h"
#include "unit/box_watcher.h"
#include "unpack/launch.h"
#include "fixtures/fixture_log.h"
#include "fixtures/zip_file.h"

namespace {

std::string FixtureBytes(const wchar_t* name)
{
    return ReadFileOrEmpty(ExeDir() + L"\\" + name);
}

class ToolEnvironment {
public:
    explicit ToolEnvironment(const std::wstring& log) { SetEnvironmentVariableW(L"DL_FIXTURE_LOG", log.c_str()); }
    ~ToolEnvironment() { SetEnvironmentVariableW(L"DL_FIXTURE_LOG", nullptr); }
};

}  // namespace

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
    const auto lines = ReadFixtureLog(dir / L"log.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].commandLine, paths.unzipCommandLine);
    EXPECT_EQ(lines[0].workingDir, dir.Path());
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
    EXPECT_TRUE(WaitUntil([&] { return !ReadFixtureLog(dir / L"log.txt").empty(); }, 10000));
    const auto lines = ReadFixtureLog(dir / L"log.txt");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].who, L"setup");
    EXPECT_NE(lines[0].commandLine.find(L"Setup.exe"), std::wstring::npos);
    person.Stop();
    CoUninitialize();
}
