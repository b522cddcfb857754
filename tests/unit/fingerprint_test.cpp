// MD5 of the cached package, the check value rule and the trace file.
#include <gtest/gtest.h>

#include "app/names.h"
#include "package/fingerprint.h"
#include "support/win_helpers.h"

TEST(FileMd5, MatchesTheRfc1321TestSuite)
{
    const struct { std::string input; const char* md5; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::wstring path = dir / L"input.bin";
        ASSERT_TRUE(WriteFileBytes(path, c.input));
        EXPECT_EQ(ComputeFileMd5(path), c.md5) << c.input;
    }
}

TEST(FileMd5, HashesEveryBlockAtAndAroundTheBlockSize)
{
    // Reference values from md5sum of the same bytes (byte i = i * 7 mod 251).
    const struct { size_t size; const char* md5; } cases[] = {
        {4096, "04d36678882c233a806ed5f74a1866d1"},
        {4097, "8cf6e518c4914bf4b0a3eebd980d20bf"},
        {8192, "820b834ac57e8e43d7b24def618d17d1"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        std::string bytes(c.size, '\0');
        for (size_t i = 0; i < c.size; ++i)
            bytes[i] = static_cast<char>((i * 7) % 251);
        ASSERT_TRUE(WriteFileBytes(dir / L"blocks.bin", bytes));
        EXPECT_EQ(ComputeFileMd5(dir / L"blocks.bin"), c.md5) << c.size;
    }
}

TEST(FileMd5, IsEmptyWhenTheFileCannotBeRead)
{
    ScratchDir dir;
    EXPECT_EQ(ComputeFileMd5(dir / L"absent.zip"), "");
    EXPECT_EQ(ComputeFileMd5(dir.Path()), "");  // a folder

    ASSERT_TRUE(WriteFileBytes(dir / L"locked.zip", "content"));
    const HANDLE holder = CreateFileW((dir / L"locked.zip").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ComputeFileMd5(dir / L"locked.zip"), "");
    CloseHandle(holder);
}

TEST(CheckValue, IsTheMd5OrThirtyTwoZeros)
{
    ScratchDir dir;
    const std::wstring package = dir / L"brellocantix_hwn.zip";
    const std::string zeros(32, '0');
    EXPECT_EQ(ComputeCheckValue(package), zeros);  // absent

    ASSERT_TRUE(WriteFileBytes(package, ""));
    EXPECT_EQ(ComputeCheckValue(package), "d41d8cd98f00b204e9800998ecf8427e");  // empty, not zeros

    ASSERT_TRUE(WriteFileBytes(package, "abc"));
    EXPECT_EQ(ComputeCheckValue(package), "900150983cd24fb0d6963f7d28e17f72");

    ScratchDir folderCase;
    ASSERT_TRUE(CreateDirectoryW((folderCase / L"brellocantix_hwn.zip").c_str(), nullptr));
    EXPECT_EQ(ComputeCheckValue(folderCase / L"brellocantix_hwn.zip"), zeros);
}

TEST(CheckValue, WorksInAFolderNamedOutsideTheAnsiCodePage)
{
    ScratchDir dir(L"dl-Đức-Łódź");
    ASSERT_TRUE(WriteFileBytes(dir / L"brellocantix_hwn.zip", "abc"));
    EXPECT_EQ(ComputeCheckValue(dir / L"brellocantix_hwn.zip"), "900150983cd24fb0d6963f7d28e17f72");
    WriteTraceFile(L"900150983cd24fb0d6963f7d28e17f72", dir / L"trace.txt");
    EXPECT_EQ(ReadFileOrEmpty(dir / L"trace.txt"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(TraceFile, HoldsExactlyTheValueOverALongerOldFile)
{
    ScratchDir dir;
    const std::wstring trace = dir / L"trace.txt";
    ASSERT_TRUE(WriteFileBytes(trace, std::string(100, 'x') + "\r\n"));
    WriteTraceFile(L"0cc175b9c0f1b6a831c399e269772661", trace);
    EXPECT_EQ(ReadFileOrEmpty(trace), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(TraceFile, ThatCannotBeWrittenChangesNothing)
{
    ScratchDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"trace.txt").c_str(), nullptr));
    WriteTraceFile(std::wstring(32, L'0'), dir / L"trace.txt");  // a folder: silently nothing
    EXPECT_TRUE(GetFileAttributesW((dir / L"trace.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    WriteTraceFile(std::wstring(32, L'0'), dir / L"missing\\trace.txt");
    EXPECT_FALSE(FileExists(dir / L"missing"));
}
