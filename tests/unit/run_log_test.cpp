// Download.log: the line format, appending, the size cap, a log that cannot be written, threads.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/program.h"
#include "base/run_log.h"
#include "support/win_helpers.h"

namespace {

const size_t Cap = 1024 * 1024;
const size_t StampLength = 23;  // "2024-05-01 14:03:07.123"

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(start));  // an unfinished line shows up as a fault
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string TextOf(const std::string& line)
{
    return line.size() > StampLength + 1 ? line.substr(StampLength + 1) : std::string();
}

void LogOnce(const std::wstring& folder, const std::wstring& text)
{
    OpenRunLog(folder);
    LogEvent(text);
    CloseRunLog();
}

}  // namespace

TEST(RunLog, LineIsLocalTimeToTheMillisecondThenTheTextInUtf8)
{
    ScratchDir dir;
    SYSTEMTIME before;
    GetLocalTime(&before);
    LogOnce(dir.Path(), L"message \"Không thể tải file ZIP khi thư mục chưa có.\"\r\nsecond part");
    const std::string bytes = ReadFileOrEmpty(dir / L"Download.log");

    const std::vector<std::string> lines = Lines(bytes);
    ASSERT_EQ(lines.size(), 1u) << bytes;  // a line break inside the text does not start a line
    std::smatch stamp;
    ASSERT_TRUE(std::regex_match(lines[0], stamp,
                                 std::regex(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\.(\d{3}) .*)")))
        << lines[0];
    EXPECT_EQ(std::stoi(stamp[1]), before.wYear);
    EXPECT_EQ(std::stoi(stamp[2]), before.wMonth);
    EXPECT_EQ(std::stoi(stamp[3]), before.wDay);
    EXPECT_EQ(std::stoi(stamp[4]), before.wHour);
    const int loggedMs = (std::stoi(stamp[5]) * 60 + std::stoi(stamp[6])) * 1000 + std::stoi(stamp[7]);
    const int beforeMs = (before.wMinute * 60 + before.wSecond) * 1000 + before.wMilliseconds;
    EXPECT_GE(loggedMs, beforeMs);
    EXPECT_LT(loggedMs - beforeMs, 2000);
    EXPECT_EQ(TextOf(lines[0]), Narrow(L"message \"Không thể tải file ZIP khi thư mục chưa có.\"  second part"));
}

TEST(RunLog, HeaderNamesVersionWindowsElevationFoldersAndServer)
{
    ScratchDir dir, working(L"dl-log-cwd");
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(working.Path().c_str());
    OpenRunLog(dir.Path());
    LogRunHeader(L"12.0.0.0", L"http://127.0.0.5");
    CloseRunLog();
    SetCurrentDirectoryW(saved);

    const std::vector<std::string> lines = Lines(ReadFileOrEmpty(dir / L"Download.log"));
    ASSERT_EQ(lines.size(), 1u);
    const std::wstring text = WideUtf8(TextOf(lines[0]));
    EXPECT_TRUE(std::regex_match(Narrow(text), std::regex(R"(start Download 12\.0\.0\.0, Windows \d+\.\d+\.\d+, elevated (yes|no), .*)")))
        << Narrow(text);
    EXPECT_NE(text.find(L", program " + ProgramDir + L", "), std::wstring::npos) << Narrow(text);
    EXPECT_NE(text.find(L", working " + working.Path() + L", "), std::wstring::npos) << Narrow(text);
    EXPECT_EQ(text.substr(text.rfind(L", ")), L", server http://127.0.0.5");
}

TEST(RunLog, RunsAppendToOneFileAndNothingIsWrittenWhileClosed)
{
    ScratchDir dir;
    LogEvent(L"before any open");
    LogOnce(dir.Path(), L"first run");
    LogEvent(L"after close");
    LogOnce(dir.Path(), L"second run");

    const std::vector<std::string> lines = Lines(ReadFileOrEmpty(dir / L"Download.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(TextOf(lines[0]), "first run");
    EXPECT_EQ(TextOf(lines[1]), "second run");
}

TEST(RunLog, LoggingKeepsTheCallersLastError)
{
    ScratchDir dir;
    OpenRunLog(dir.Path());
    SetLastError(ERROR_DISK_FULL);
    LogEvent(L"a line");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    LogRunHeader(L"1", L"http://x");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    ErrorText(ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    CloseRunLog();

    OpenRunLog(dir / L"no such folder");  // the open fails
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    LogEvent(L"a line");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    CloseRunLog();
}

TEST(RunLog, PastOneMebibyteTheLogBecomesTheOldLogAndANewOneStarts)
{
    const std::string text = "one more line";
    const size_t line = StampLength + 1 + text.size() + 2;
    const struct {
        size_t existing;
        bool rotates;
    } cases[] = {
        {0, false},
        {Cap - line, false},  // the line fills the log to the cap exactly
        {Cap - line + 1, true},
        {Cap + 4096, true},  // grown by a run that could not rotate it
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::string existing(c.existing, 'x');
        ASSERT_TRUE(WriteFileBytes(dir / L"Download.log", existing));
        ASSERT_TRUE(WriteFileBytes(dir / L"Download.old.log", "previous old log"));
        LogOnce(dir.Path(), WideUtf8(text));

        const std::string log = ReadFileOrEmpty(dir / L"Download.log");
        const std::string old = ReadFileOrEmpty(dir / L"Download.old.log");
        if (c.rotates) {
            EXPECT_EQ(old, existing) << c.existing;
            EXPECT_EQ(log.size(), line) << c.existing;
        } else {
            EXPECT_EQ(old, "previous old log") << c.existing;
            EXPECT_EQ(log.size(), c.existing + line) << c.existing;
            EXPECT_EQ(log.substr(0, c.existing), existing) << c.existing;
        }
        EXPECT_EQ(TextOf(log.substr(log.size() - line, line - 2)), text) << c.existing;
    }
}

TEST(RunLog, ALogThatCannotBeWrittenIsSkippedInSilence)
{
    const std::string earlier = "earlier run\r\n";
    const struct {
        const char* name;
        bool readOnly;
        bool heldWithoutSharing;
        std::string existing;
    } cases[] = {
        {"read-only log", true, false, earlier},
        {"log held by another program", false, true, earlier},
        {"full log held by another program", false, true, std::string(Cap + 10, 'x')},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const std::wstring path = dir / L"Download.log";
        ASSERT_TRUE(WriteFileBytes(path, c.existing));
        ASSERT_TRUE(WriteFileBytes(dir / L"Download.old.log", "previous old log"));
        if (c.readOnly)
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        const HANDLE held = c.heldWithoutSharing
                                ? CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                : INVALID_HANDLE_VALUE;
        ASSERT_EQ(c.heldWithoutSharing, held != INVALID_HANDLE_VALUE) << c.name;

        EXPECT_NO_THROW({
            OpenRunLog(dir.Path());
            LogRunHeader(L"12.0.0.0", L"http://x");
            LogEvent(L"a line");
            CloseRunLog();
        }) << c.name;

        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(ReadFileOrEmpty(path), c.existing) << c.name;
        EXPECT_EQ(ReadFileOrEmpty(dir / L"Download.old.log"), "previous old log") << c.name;
    }
}

TEST(RunLog, LinesOfTwoThreadsNeverMixAndNoneIsLostAcrossTheCap)
{
    // Together the threads write past the cap, so one of them rotates the file while the other
    // is writing.
    ScratchDir dir;
    const int perThread = 600;
    const std::string filler(1000, '.');
    OpenRunLog(dir.Path());
    auto writer = [&](wchar_t who) {
        for (int i = 0; i < perThread; ++i)
            LogEvent(std::wstring(1, who) + L" " + std::to_wstring(i) + L" " + WideUtf8(filler));
    };
    std::thread a(writer, L'a'), b(writer, L'b');
    a.join();
    b.join();
    CloseRunLog();

    const std::string old = ReadFileOrEmpty(dir / L"Download.old.log");
    const std::string log = ReadFileOrEmpty(dir / L"Download.log");
    EXPECT_FALSE(old.empty());
    EXPECT_LE(old.size(), Cap);
    int next[2] = {0, 0};
    for (const std::string& line : Lines(old + log)) {
        const std::string text = TextOf(line);
        ASSERT_GE(text.size(), 2u) << line;
        const int who = text[0] == 'a' ? 0 : 1;
        ASSERT_EQ(text, std::string(1, text[0]) + " " + std::to_string(next[who]) + " " + filler) << line;
        ++next[who];  // each thread's lines in its own order, none missing
    }
    EXPECT_EQ(next[0], perThread);
    EXPECT_EQ(next[1], perThread);
}

TEST(ErrorText, GivesTheCodeAndTheSystemsTextOnOneLine)
{
    // WinINet's codes come from its own module once the program has loaded it.
    const HMODULE wininet = LoadLibraryW(L"wininet.dll");
    ASSERT_TRUE(wininet);
    const struct {
        DWORD code;
        const wchar_t* prefix;
    } cases[] = {
        {ERROR_FILE_NOT_FOUND, L"2 ("},
        {ERROR_DISK_FULL, L"112 ("},
        {12029, L"12029 ("},  // ERROR_INTERNET_CANNOT_CONNECT
        {12007, L"12007 ("},  // ERROR_INTERNET_NAME_NOT_RESOLVED
    };
    for (const auto& c : cases) {
        const std::wstring text = ErrorText(c.code);
        EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << Narrow(text);
        EXPECT_EQ(text.back(), L')') << Narrow(text);
        EXPECT_GT(text.size(), wcslen(c.prefix) + 2) << Narrow(text);
        EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos) << Narrow(text);
    }
    EXPECT_EQ(ErrorText(0x3FFFFFFF), L"1073741823");  // no text known: the code alone
    EXPECT_EQ(HresultText(E_FAIL).rfind(L"0x80004005 (", 0), 0u) << Narrow(HresultText(E_FAIL));
    EXPECT_EQ(HresultText(static_cast<HRESULT>(0xA0001234)), L"0xA0001234");
    FreeLibrary(wininet);
}
