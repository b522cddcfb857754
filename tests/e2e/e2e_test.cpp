// End to end: every end of both install roads, with its messages, exit code, requests, files
// and started programs.
#include "e2e/e2e_fixture.h"

// ---- Common start -------------------------------------------------------------------------

TEST_F(EndToEnd, ClosingTheCodeDialogEndsQuietlyWithNothingSent)
{
    Scenario s;
    s.closeDialog = true;
    const Outcome out = Run(s);
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_TRUE(out.requests.empty());
    EXPECT_FALSE(out.progressSeen);
}

TEST_F(EndToEnd, APlantedWininetBesideTheProgramIsNeverLoaded)
{
    Scenario s;
    s.query = {Reply{200, NotFound}};
    s.plantWininet = true;
    const Outcome out = Run(s);
    EXPECT_FALSE(PathExists(dir->Path() + L"\\planted-dll-loaded.txt"));
    EXPECT_EQ(out.messages, Messages{ProductNotFound});  // the system's WinINet did the fetch
    EXPECT_EQ(out.exitCode, 1u);
}

// ---- First-install road -------------------------------------------------------------------

TEST_F(EndToEnd, FirstInstallEndsThatLeaveNoPackageShowOneMessage)
{
    const struct {
        const char* name;
        bool serverUp;
        Reply reply;
        bool packageTempIsFolder;
        const wchar_t* message;
    } cases[] = {
        {"server down", false, Reply{}, false, FirstFetchFailed},
        {"server error", true, Reply{500, "<html>server error</html>"}, false, FirstFetchFailed},
        {"not found", true, Reply{404, NotFound}, false, ProductNotFound},
        {"package cannot be saved", true, Reply{200, PackageWithSetup()}, true, PackageNotSaved},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.serverUp = c.serverUp;
        s.query = {c.reply};
        s.packageTempIsFolder = c.packageTempIsFolder;
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, Messages{c.message}) << c.name;
        EXPECT_EQ(out.exitCode, 1u) << c.name;
        EXPECT_TRUE(out.progressSeen) << c.name;
        ExpectQueries(out, c.serverUp ? 1 : 0, Zeros);
        EXPECT_FALSE(PathExists(Package())) << c.name;
    }
}

TEST_F(EndToEnd, FirstInstallUnpacksThroughTheShellAndOpensSetupAfterEightSeconds)
{
    Scenario s;
    const std::string package = PackageWithSetup();
    s.query = {Reply{200, package}};
    s.workElsewhere = true;
    s.dirName = L"dl e2e with blanks";
    const Outcome out = Run(s);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(out.exitCode, 1u);  // this end has always exited with 1
    ExpectQueries(out, 1, Zeros);
    EXPECT_EQ(ReadFileOrEmpty(Package()), package);
    EXPECT_TRUE(PathExists(Installer()));
    EXPECT_FALSE(PathExists(elsewhere->Path() + L"\\brellocantix_hwn.zip"));
    const auto setups = Started(out, L"setup");
    ASSERT_EQ(setups.size(), 1u);
    ASSERT_EQ(out.requests.size(), 1u);
    EXPECT_GE(setups[0]->ticks - out.requests[0].servedAt, 8 * Second);
    EXPECT_TRUE(Started(out, L"unzip").empty());
}

TEST_F(EndToEnd, FirstInstallWithoutSetupInThePackage)
{
    Scenario s;
    s.query = {Reply{200, MakeZip({{"other.exe", "x"}})}};
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{SetupMissing});
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_GE(out.endedAt - out.requests.at(0).servedAt, 8 * Second);
}

TEST_F(EndToEnd, FirstInstallSavesAnUpToDateReplyAsThePackage)
{
    Scenario s;
    s.query = {Reply{200, Zeros}};
    const Outcome out = Run(s);
    EXPECT_EQ(ReadFileOrEmpty(Package()), Zeros);
    // The Shell cannot open 32 bytes as a ZIP; the unzip tool is fetched and started.
    EXPECT_EQ(out.messages, Messages{OpenZipFailed});
    EXPECT_EQ(out.exitCode, 0u);
    ExpectQueries(out, 1, Zeros, true);
    EXPECT_EQ(Started(out, L"unzip").size(), 1u);
}

TEST_F(EndToEnd, FirstInstallFallbackFailuresAreReported)
{
    const struct {
        const char* name;
        std::vector<Reply> tool;
        bool toolIsFolder;
        const wchar_t* message;
    } cases[] = {
        {"tool not fetched", {Reply{404, "<html>no</html>"}}, false, ToolNotFetched},
        {"tool cannot be saved", {}, true, ToolNotSaved},
        {"tool is no program", {Reply{200, "this is not a program"}}, false, ToolNotStarted},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.query = {Reply{200, PackageWithSetup()}};
        s.shell = L"fail:copy";
        s.tool = c.tool;
        s.toolIsFolder = c.toolIsFolder;
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, (Messages{CopyFailed, c.message})) << c.name;
        EXPECT_EQ(out.exitCode, 1u) << c.name;
        ExpectQueries(out, 1, Zeros, true);
        EXPECT_TRUE(Started(out, L"setup").empty()) << c.name;
    }
}

TEST_F(EndToEnd, FirstInstallFallbackStartsTheToolInTheProgramFolderAndEndsWithoutWaitingForIt)
{
    Scenario s;
    s.query = {Reply{200, PackageWithSetup()}};
    s.shell = L"null:target";
    s.workElsewhere = true;
    s.dirName = L"dl e2e with blanks";
    s.unzipSleepMs = L"8000";  // still working when the program should be gone
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{L"Không thể mở thư mục đích."});
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(ReadFileOrEmpty(Tool()), Fixture(L"unzip.exe"));
    const auto tools = Started(out, L"unzip");
    ASSERT_EQ(tools.size(), 1u);
    EXPECT_EQ(tools[0]->commandLine,
              L"\"" + Tool() + L"\" brellocantix_hwn.zip -d \"Setup BRELLOCANTIX\"");
    EXPECT_EQ(tools[0]->workingDir, dir->Path());
    EXPECT_GE(out.endedAt - tools[0]->ticks, 5 * Second - Second / 2);
    EXPECT_LT(out.endedAt - tools[0]->ticks, 7 * Second + Second / 2);
    EXPECT_FALSE(PathExists(Installer()));  // the program did not wait for the tool
    EXPECT_TRUE(Started(out, L"setup").empty());  // this road never opens it after the tool
    EXPECT_TRUE(WaitUntil([&] { return PathExists(Installer()); }, 10000));
    EXPECT_FALSE(PathExists(elsewhere->Path() + L"\\Setup BRELLOCANTIX"));
}

TEST_F(EndToEnd, AProgramAtADriveRootStartsTheToolInThatRoot)
{
    Scenario s;
    s.query = {Reply{200, PackageWithSetup()}};
    s.shell = L"null:target";
    s.atDriveRoot = true;
    const Outcome out = Run(s);
    ASSERT_FALSE(drive.empty());
    EXPECT_EQ(out.messages, Messages{L"Không thể mở thư mục đích."});
    EXPECT_EQ(out.exitCode, 0u);
    const auto tools = Started(out, L"unzip");
    ASSERT_EQ(tools.size(), 1u);
    EXPECT_EQ(tools[0]->commandLine, L"\"" + drive + L"\\unzip.exe\" brellocantix_hwn.zip -d \"Setup BRELLOCANTIX\"");
    EXPECT_EQ(tools[0]->workingDir, drive + L"\\");
    EXPECT_TRUE(WaitUntil([&] { return PathExists(Installer()); }, 10000));
    EXPECT_FALSE(PathExists(dir->Path() + L"\\elsewhere\\Setup BRELLOCANTIX"));
    EXPECT_TRUE(PathExists(Package()));
}

// ---- Update road ---------------------------------------------------------------------------

TEST_F(EndToEnd, UpdateEndsThatKeepTheCachedPackageShowOneMessage)
{
    const struct {
        const char* name;
        std::vector<Reply> replies;
        bool packageTempIsFolder;
        const wchar_t* message;
        size_t queries;
    } cases[] = {
        {"first fetch fails", {Reply{500, "err"}}, false, UpdateCheckFailed, 1},
        {"second fetch fails", {Reply{200, Zeros}, Reply{500, "err"}}, false, UpdateCheckFailed, 2},
        {"not found", {Reply{200, Zeros}, Reply{200, NotFound}}, false, ProductNotFound, 2},
        {"package cannot be saved", {Reply{200, PackageWithSetup("new")}}, true, UpdateNotSaved, 2},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.cachedPackage = PackageWithSetup("cached");
        s.query = c.replies;
        s.packageTempIsFolder = c.packageTempIsFolder;
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, Messages{c.message}) << c.name;
        EXPECT_EQ(out.exitCode, 1u) << c.name;
        ExpectQueries(out, c.queries, Md5Hex(s.cachedPackage));
        EXPECT_EQ(ReadFileOrEmpty(Package()), s.cachedPackage) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(Trace()), Md5Hex(s.cachedPackage)) << c.name;
    }
}

TEST_F(EndToEnd, UpdateUpToDateOpensTheInstallerThatIsThere)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.earlierSetup = Fixture(L"fake_setup.exe");
    s.query = {Reply{200, PackageWithSetup("first reply, ignored")}, Reply{200, Zeros}};
    s.workElsewhere = true;
    const Outcome out = Run(s);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(out.exitCode, 0u);
    ExpectQueries(out, 2, Md5Hex(s.cachedPackage));
    EXPECT_EQ(ReadFileOrEmpty(Package()), s.cachedPackage);  // only the second reply counts
    EXPECT_EQ(ReadFileOrEmpty(Trace()), Md5Hex(s.cachedPackage));
    EXPECT_FALSE(PathExists(elsewhere->Path() + L"\\trace.txt"));
    EXPECT_EQ(Started(out, L"setup").size(), 1u);
}

TEST_F(EndToEnd, UpdateUpToDateWithoutAnInstallerSaysSetupCannotBeOpened)
{
    Scenario s;
    s.cachedPackage = "not even a zip";
    s.query = {Reply{200, Zeros}};
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{L"Không mở được Setup.exe."});
    EXPECT_EQ(out.exitCode, 1u);
    EXPECT_TRUE(Started(out, L"setup").empty());
}

TEST_F(EndToEnd, UpdateNewPackageUnpackedByTheShellEndsWithoutOpeningSetup)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    const std::string fresh = PackageWithSetup("second");
    s.query = {Reply{200, PackageWithSetup("first")}, Reply{200, fresh}};
    const Outcome out = Run(s);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(ReadFileOrEmpty(Package()), fresh);
    EXPECT_EQ(ReadFileOrEmpty(InstallFolder() + L"\\readme.txt"), "second");
    EXPECT_TRUE(Started(out, L"setup").empty());
    EXPECT_EQ(Started(out, L"shell-copy").size(), 1u);
}

TEST_F(EndToEnd, UpdateFallbackFailuresAreReported)
{
    const struct { const char* name; std::vector<Reply> tool; bool toolIsFolder; const wchar_t* message; } cases[] = {
        {"tool not fetched", {Reply{404, "<html>no</html>"}}, false, ToolNotFetched},
        {"tool cannot be saved", {}, true, ToolNotSaved},
    };
    for (const auto& c : cases) {
        Scenario s;
        s.cachedPackage = PackageWithSetup("cached");
        s.query = {Reply{200, PackageWithSetup("new")}};
        s.shell = L"fail:items";
        s.tool = c.tool;
        s.toolIsFolder = c.toolIsFolder;
        const Outcome out = Run(s);
        EXPECT_EQ(out.messages, (Messages{L"Không thể lấy danh sách tệp từ ZIP.", c.message})) << c.name;
        EXPECT_EQ(out.exitCode, 1u) << c.name;
    }
}

TEST_F(EndToEnd, UpdateFallbackOpensTheInstallerTheToolUnpacked)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.query = {Reply{200, PackageWithSetup("new")}};
    s.shell = L"fail:create";
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{L"Không thể tạo Shell Dispatch."});
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(ReadFileOrEmpty(InstallFolder() + L"\\readme.txt"), "new");
    const auto tools = Started(out, L"unzip");
    const auto setups = Started(out, L"setup");
    ASSERT_EQ(tools.size(), 1u);
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_GT(setups[0]->ticks, tools[0]->ticks);
    // The fixture tool is done in well under a second: the wait ends with it, not at a fixed time.
    EXPECT_LT(setups[0]->ticks - tools[0]->ticks, 10 * Second);
}

TEST_F(EndToEnd, UpdateToolThatCannotStartFallsBackToTheEarlierInstaller)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.earlierSetup = Fixture(L"fake_setup.exe");
    s.query = {Reply{200, PackageWithSetup("new")}};
    s.shell = L"fail:package";
    s.tool = {Reply{200, "garbage, not a program"}};
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, Messages{OpenZipFailed});  // nothing of its own for the tool
    EXPECT_EQ(out.exitCode, 0u);
    EXPECT_EQ(Started(out, L"setup").size(), 1u);
}

TEST_F(EndToEnd, UpdateToolSlowerThanThirtySecondsLeavesNoInstaller)
{
    Scenario s;
    s.cachedPackage = PackageWithSetup("cached");
    s.query = {Reply{200, PackageWithSetup("new")}};
    s.shell = L"fail:copy";
    s.unzipSleepMs = L"40000";  // ends 10 s after the longest wait
    const Outcome out = Run(s);
    EXPECT_EQ(out.messages, (Messages{CopyFailed, SetupMissing}));
    EXPECT_EQ(out.exitCode, 1u);
    const auto tools = Started(out, L"unzip");
    ASSERT_EQ(tools.size(), 1u);
    EXPECT_GE(out.endedAt - tools[0]->ticks, 30 * Second - Second / 2);
    EXPECT_LT(out.endedAt - tools[0]->ticks, 36 * Second);  // gives up before the tool ends
}
