// Shell extraction against a scripted fake Shell object registered on this thread, and once
// against the platform's own Shell object.
#include <gtest/gtest.h>

#include <objbase.h>

#include <thread>

#include "app/names.h"

#include "fixtures/fake_shell.h"
#include "fixtures/zip_file.h"
#include "support/com_depth.h"
#include "support/win_helpers.h"
#include "ui/texts.h"
#include "unit/box_watcher.h"
#include "unpack/shell_extract.h"

namespace {

class ShellExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        IClassFactory* factory = NewFakeShellFactory();
        ASSERT_EQ(CoRegisterClassObject(FakeShellClassId, factory, CLSCTX_INPROC_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_), S_OK);
        factory->Release();
        SetFakeShellScript(FakeShellScript());
        FakeShell() = FakeShellStats();
        package = dir / L"brellocantix_hwn.zip";
        folder = dir / L"Setup BRELLOCANTIX";
        ASSERT_TRUE(WriteFileBytes(package, MakeZip({{"Setup.exe", "new setup"}, {"data/readme.txt", "hi"}})));
    }
    void TearDown() override
    {
        CoRevokeClassObject(cookie_);
        CoUninitialize();
    }

    ScratchDir dir;
    std::wstring package, folder;

private:
    DWORD cookie_ = 0;
};

long AliveObjects() { return FakeShell().alive; }

}  // namespace

TEST_F(ShellExtraction, EachFailingStepShowsItsOneMessageWhileStillHoldingWhatItGot)
{
    const struct {
        ShellStep step;
        StepOutcome outcome;
        const wchar_t* message;
        long heldDuringBox;  // fake objects alive while the box is open
    } cases[] = {
        {ShellStep::Create, StepOutcome::FailHr, text::ShellDispatchFailed, 0},
        {ShellStep::Create, StepOutcome::NullPointer, text::ShellDispatchFailed, 0},
        {ShellStep::OpenPackage, StepOutcome::FailHr, text::OpenZipFailed, 1},
        {ShellStep::OpenPackage, StepOutcome::NullPointer, text::OpenZipFailed, 1},
        {ShellStep::OpenTarget, StepOutcome::FailHr, text::OpenTargetFailed, 2},
        {ShellStep::OpenTarget, StepOutcome::NullPointer, text::OpenTargetFailed, 2},
        {ShellStep::Items, StepOutcome::FailHr, text::ListItemsFailed, 3},
        {ShellStep::Items, StepOutcome::NullPointer, text::ListItemsFailed, 3},
        {ShellStep::CopyHere, StepOutcome::FailHr, text::CopyFailed, 4},
    };
    for (const auto& c : cases) {
        SetFakeShellScript(FakeShellScript{c.step, c.outcome});
        FakeShell() = FakeShellStats();
        const int index = static_cast<int>(&c - cases);
        const int depth = ComDepth();
        ASSERT_GE(depth, 1) << index << ": the count was read, with this test's own initialisation";
        BoxWatcher person(AliveObjects);
        const bool extracted = ExtractZip(package, folder);
        WaitUntil([&] { return !person.texts.empty(); }, 1000);
        person.Stop();
        EXPECT_FALSE(extracted) << index;
        ASSERT_EQ(person.texts.size(), 1u) << index;
        EXPECT_EQ(person.texts[0], c.message) << index;
        EXPECT_EQ(person.notes[0], c.heldDuringBox) << index;
        EXPECT_EQ(FakeShell().alive, 0) << index << ": every interface released";
        EXPECT_EQ(ComDepth(), depth) << index;
    }
}

TEST_F(ShellExtraction, SuccessCopiesQuietlyIntoAFolderThatMayExist)
{
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\Setup.exe", "old setup"));
    ASSERT_TRUE(WriteFileBytes(folder + L"\\keep.txt", "mine"));
    const int depth = ComDepth();
    ASSERT_GE(depth, 1) << "the count was read, with this test's own initialisation";
    BoxWatcher person;
    EXPECT_TRUE(ExtractZip(package, folder));
    Sleep(300);
    person.Stop();
    EXPECT_TRUE(person.texts.empty());
    EXPECT_EQ(FakeShell().copyCalls, 1);
    EXPECT_EQ(FakeShell().lastCopyOptions, 0x414);
    EXPECT_EQ(FakeShell().lastCopyTarget, folder);
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\Setup.exe"), "new setup");
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\data\\readme.txt"), "hi");
    EXPECT_EQ(ReadFileOrEmpty(folder + L"\\keep.txt"), "mine");
    EXPECT_EQ(FakeShell().alive, 0);
    EXPECT_EQ(ComDepth(), depth);
}

TEST_F(ShellExtraction, AMissingParentFolderStopsBeforeTheShell)
{
    BoxWatcher person;
    EXPECT_FALSE(ExtractZip(package, dir / L"missing\\Setup BRELLOCANTIX"));
    WaitUntil([&] { return !person.texts.empty(); }, 1000);
    person.Stop();
    ASSERT_EQ(person.texts.size(), 1u);
    EXPECT_EQ(person.texts[0], text::CreateFolderFailed);
    EXPECT_EQ(FakeShell().created, 0);
}

TEST_F(ShellExtraction, AMultithreadedCallerGetsTheComMessageAndKeepsItsApartment)
{
    bool extracted = true;
    APTTYPE after = APTTYPE_STA;
    BoxWatcher person;
    std::thread worker([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        extracted = ExtractZip(package, folder);
        APTTYPEQUALIFIER qualifier;
        CoGetApartmentType(&after, &qualifier);
        CoUninitialize();
    });
    worker.join();
    WaitUntil([&] { return !person.texts.empty(); }, 1000);
    person.Stop();
    EXPECT_FALSE(extracted);
    ASSERT_EQ(person.texts.size(), 1u);
    EXPECT_EQ(person.texts[0], text::ComInitFailed);
    EXPECT_EQ(after, APTTYPE_MTA);
    EXPECT_EQ(FakeShell().created, 0);
}

TEST(PlatformShell, APackageThatNamesNoFileCannotBeOpened)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ScratchDir dir;
    const int depth = ComDepth();
    ASSERT_GE(depth, 1) << "the count was read, with this test's own initialisation";
    BoxWatcher person;
    EXPECT_FALSE(ExtractZip(dir / L"absent.zip", dir / L"Setup BRELLOCANTIX"));
    WaitUntil([&] { return !person.texts.empty(); }, 2000);
    person.Stop();
    ASSERT_EQ(person.texts.size(), 1u);
    EXPECT_EQ(person.texts[0], text::OpenZipFailed);
    EXPECT_TRUE(FileExists(dir / L"Setup BRELLOCANTIX"));  // created before the Shell was asked
    EXPECT_EQ(ComDepth(), depth);
    CoUninitialize();
}
