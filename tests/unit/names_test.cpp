// Program directory cutting, composed paths and command line, Widen and FileExists.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/names.h"
#include "support/win_helpers.h"

TEST(ProgramDir, IsCutBeforeTheLastSeparatorOfEitherKind)
{
    const struct { const wchar_t* module; const wchar_t* dir; } cases[] = {
        {L"C:\\Tools\\dl.exe", L"C:\\Tools"},
        {L"C:\\dl.exe", L"C:"},
        {L"C:/Tools/dl.exe", L"C:/Tools"},
        {L"C:\\a/b\\dl.exe", L"C:\\a/b"},
        {L"C:/a\\b/dl.exe", L"C:/a\\b"},
        {L"D:\\Program Files\\My Tools\\dl.exe", L"D:\\Program Files\\My Tools"},
        {L"dl.exe", L"dl.exe"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DirectoryOfModulePath(c.module), c.dir) << Narrow(c.module);
}

TEST(ProgramDir, KeepsAModulePathLongerThanMaxPath)
{
    // Behaves like GetModuleFileNameW: truncates to the buffer and returns its size then.
    static const std::wstring longPath =
        L"C:\\" + std::wstring(300, L'd') + L"\\" + std::wstring(400, L'e') + L"\\Download.exe";
    const auto query = [](wchar_t* buffer, DWORD size) -> DWORD {
        const DWORD length = static_cast<DWORD>(longPath.size());
        const DWORD copied = std::min(length, size - 1);
        longPath.copy(buffer, copied);
        buffer[copied] = L'\0';
        return length < size ? length : size;
    };
    EXPECT_EQ(ReadModulePath(query), longPath);
    EXPECT_EQ(DirectoryOfModulePath(ReadModulePath(query)), longPath.substr(0, longPath.size() - 13));
    EXPECT_EQ(ReadModulePath([](wchar_t*, DWORD) -> DWORD { return 0; }), L"");
}

TEST(ProgramDir, StaticStartUpHoldsTheFolderOfTheRunningExe)
{
    EXPECT_EQ(ProgramDir, ExeDir());
    EXPECT_EQ(InstanceHandle, GetModuleHandleW(nullptr));
    EXPECT_TRUE(ProductCode.empty());
}

TEST(InstallPaths, AreComposedFromTheProgramDir)
{
    const InstallPaths root = ComposeInstallPaths(L"C:");
    EXPECT_EQ(root.package, L"C:\\brellocantix_hwn.zip");
    EXPECT_EQ(root.tool, L"C:\\unzip.exe");
    EXPECT_EQ(root.installFolder, L"C:\\Setup BRELLOCANTIX");
    EXPECT_EQ(root.installer, L"C:\\Setup BRELLOCANTIX\\Setup.exe");
    EXPECT_EQ(root.trace, L"C:\\trace.txt");

    const InstallPaths blanks = ComposeInstallPaths(L"D:\\Program Files\\My Tools");
    EXPECT_EQ(blanks.package, L"D:\\Program Files\\My Tools\\brellocantix_hwn.zip");
    EXPECT_EQ(blanks.installer, L"D:\\Program Files\\My Tools\\Setup BRELLOCANTIX\\Setup.exe");
    EXPECT_EQ(blanks.trace, L"D:\\Program Files\\My Tools\\trace.txt");
}

TEST(InstallPaths, UnzipCommandLineQuotesTheToolAndKeepsBareArchiveAndFolder)
{
    EXPECT_EQ(ComposeInstallPaths(L"D:\\Tools").unzipCommandLine,
              L"\"D:\\Tools\\unzip.exe\" brellocantix_hwn.zip -d \"Setup BRELLOCANTIX\"");
    EXPECT_EQ(ComposeInstallPaths(L"C:\\Program Files\\X").unzipCommandLine,
              L"\"C:\\Program Files\\X\\unzip.exe\" brellocantix_hwn.zip -d \"Setup BRELLOCANTIX\"");
}

TEST(Widen, ConvertsThroughTheAnsiCodePage)
{
    EXPECT_EQ(Widen("unzip.exe"), L"unzip.exe");
    EXPECT_EQ(Widen("unzip.exe").size(), 9u);
    EXPECT_EQ(Widen(""), L"");
    EXPECT_EQ(Widen("ab") + L"c", L"abc");  // no NUL left inside
    EXPECT_EQ(Widen(std::string("ab\0cd", 5)), L"ab");  // read up to the first NUL
}

TEST(FileExists, SeesFilesAndFoldersButNothingUnderAMissingParent)
{
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"file.bin", "x"));
    EXPECT_TRUE(FileExists(dir.Path()));
    EXPECT_TRUE(FileExists(dir / L"file.bin"));
    EXPECT_FALSE(FileExists(dir / L"absent.bin"));
    EXPECT_FALSE(FileExists(dir / L"missing\\file.bin"));
}
