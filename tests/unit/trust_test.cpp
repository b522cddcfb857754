// Signature, signer-key and pinned-hash checks against fixture programs signed with the test
// keys (tests/pki), and the hold that keeps a checked file from being swapped before it runs.
#include <gtest/gtest.h>

#include <objbase.h>
#include <wintrust.h>

#include <functional>

#include "app/names.h"
#include "support/win_helpers.h"
#include "unit/box_watcher.h"
#include "unpack/launch.h"
#include "unpack/trust.h"

namespace {

const std::string KeyA = SIGNER_A_KEY;
const std::string KeyB = SIGNER_B_KEY;

std::wstring FixturePath(const wchar_t* name)
{
    return ExeDir() + L"\\" + name;
}

// sha256sum's hex of the fixture unzip.exe, written beside it by the build.
std::string UnzipSha256()
{
    return ReadFileOrEmpty(FixturePath(L"unzip.sha256")).substr(0, 64);
}

class Held {
public:
    explicit Held(const std::wstring& path) : handle(HoldFileForRun(path)) {}
    ~Held() { Release(); }
    void Release()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    HANDLE handle;
};

const char* Name(TrustVerdict verdict)
{
    static const char* const names[] = {"NotChecked",  "TrustedSigner", "PinnedHash", "BadSignature",
                                        "ForeignSigner", "HashDiffers",  "Unreadable"};
    return names[static_cast<int>(verdict)];
}

}  // namespace

TEST(HashList, TakesTheBuildTimeFormInLowerCase)
{
    const struct { std::string text; std::vector<std::string> expected; } cases[] = {
        {"", {}},
        {" ; ;", {}},
        {"AB12", {"ab12"}},
        {"ab;CD", {"ab", "cd"}},
        {" ab ; ;cd; ", {"ab", "cd"}},
        {"ab,CD", {"ab", "cd"}},  // how the build hands a CMake list over
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHashList(c.text), c.expected) << c.text;
}

TEST(Signature, WinVerifyTrustAndTheSignerKeyTellTheFilesApart)
{
    const struct {
        const wchar_t* file;
        LONG status;
        std::string key;
    } cases[] = {
        {L"setup_signed_a.exe", 0, KeyA},
        {L"setup_signed_b.exe", 0, KeyB},  // same subject name as a, another key
        {L"fake_setup.exe", TRUST_E_NOSIGNATURE, ""},
        {L"setup_altered.exe", TRUST_E_BAD_DIGEST, ""},
    };
    ASSERT_NE(KeyA, KeyB);
    for (const auto& c : cases) {
        const Held held(FixturePath(c.file));
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        const SignatureCheck check = CheckSignature(held.handle, FixturePath(c.file));
        EXPECT_EQ(static_cast<uint32_t>(check.status), static_cast<uint32_t>(c.status)) << Narrow(c.file);
        EXPECT_EQ(check.signerKey, c.key);
    }
}

TEST(InstallerTrust, OnlyAnIntactSignatureByAListedKeyPasses)
{
    const TrustPolicy none;
    TrustPolicy onlyA;
    onlyA.signers = {KeyA};
    TrustPolicy both;
    both.signers = {KeyB, KeyA};
    TrustPolicy pinOnly;  // a pinned tool hash says nothing about the installer
    pinOnly.toolSha256 = UnzipSha256();

    const struct {
        const wchar_t* file;
        const TrustPolicy* policy;
        TrustVerdict expected;
    } cases[] = {
        {L"setup_signed_a.exe", &onlyA, TrustVerdict::TrustedSigner},
        {L"setup_signed_b.exe", &onlyA, TrustVerdict::ForeignSigner},
        {L"setup_signed_b.exe", &both, TrustVerdict::TrustedSigner},
        {L"fake_setup.exe", &onlyA, TrustVerdict::BadSignature},
        {L"setup_altered.exe", &onlyA, TrustVerdict::BadSignature},
        {L"setup_altered.exe", &both, TrustVerdict::BadSignature},
        {L"fake_setup.exe", &none, TrustVerdict::NotChecked},
        {L"setup_altered.exe", &none, TrustVerdict::NotChecked},
        {L"fake_setup.exe", &pinOnly, TrustVerdict::NotChecked},
    };
    for (const auto& c : cases) {
        const Held held(FixturePath(c.file));
        const TrustVerdict verdict = CheckInstallerTrust(held.handle, FixturePath(c.file), *c.policy);
        EXPECT_STREQ(Name(verdict), Name(c.expected)) << Narrow(c.file);
    }
}

TEST(ToolTrust, AListedSignerOrThePinnedHashLetsItRun)
{
    const std::string pinned = UnzipSha256();
    ASSERT_EQ(pinned.size(), 64u);
    std::string other = pinned;
    other[0] = other[0] == '0' ? '1' : '0';
    const struct {
        const char* name;
        std::vector<std::string> signers;
        std::string pin;
        const wchar_t* file;
        TrustVerdict expected;
    } cases[] = {
        {"nothing set", {}, "", L"unzip.exe", TrustVerdict::NotChecked},
        {"pin matches", {}, pinned, L"unzip.exe", TrustVerdict::PinnedHash},
        {"pin differs", {}, other, L"unzip.exe", TrustVerdict::HashDiffers},
        {"signed file is not the pinned one", {}, pinned, L"unzip_signed_a.exe", TrustVerdict::HashDiffers},
        {"listed signer", {KeyA}, "", L"unzip_signed_a.exe", TrustVerdict::TrustedSigner},
        {"foreign signer", {KeyA}, "", L"unzip_signed_b.exe", TrustVerdict::ForeignSigner},
        {"unsigned, list only", {KeyA}, "", L"unzip.exe", TrustVerdict::BadSignature},
        {"unsigned but pinned", {KeyA}, pinned, L"unzip.exe", TrustVerdict::PinnedHash},
        {"listed signer, pin differs", {KeyA}, other, L"unzip_signed_a.exe", TrustVerdict::TrustedSigner},
        {"foreign signer, pin differs", {KeyA}, other, L"unzip_signed_b.exe", TrustVerdict::HashDiffers},
    };
    for (const auto& c : cases) {
        TrustPolicy policy;
        policy.signers = c.signers;
        policy.toolSha256 = c.pin;
        const Held held(FixturePath(c.file));
        EXPECT_STREQ(Name(CheckToolTrust(held.handle, FixturePath(c.file), policy)), Name(c.expected)) << c.name;
    }
    const Held held(FixturePath(L"unzip.exe"));
    EXPECT_EQ(FileSha256(held.handle), pinned);
    EXPECT_EQ(FileSha256(held.handle), pinned);  // read again from the start, not from where it stopped
}

TEST(HeldFile, CannotBeSwappedUntilReleased)
{
    ScratchDir dir;
    const std::wstring file = dir / L"Setup.exe";
    const std::wstring aside = dir / L"aside.exe";
    const std::wstring other = dir / L"other.exe";
    const struct {
        const char* name;
        std::function<bool()> attempt;
    } swaps[] = {
        {"write", [&] {
             const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
             if (h != INVALID_HANDLE_VALUE)
                 CloseHandle(h);
             return h != INVALID_HANDLE_VALUE;
         }},
        {"rename away", [&] { return MoveFileExW(file.c_str(), aside.c_str(), 0) != 0; }},
        {"replace by rename", [&] { return MoveFileExW(other.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != 0; }},
        {"delete", [&] { return DeleteFileW(file.c_str()) != 0; }},
    };
    for (const auto& swap : swaps) {
        ASSERT_TRUE(WriteFileBytes(file, "checked"));
        ASSERT_TRUE(WriteFileBytes(other, "swapped"));
        Held held(file);
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(swap.attempt()) << swap.name;
        EXPECT_EQ(ReadFileOrEmpty(file), "checked") << swap.name;
        held.Release();
        EXPECT_TRUE(swap.attempt()) << swap.name << " (released: the attempt itself works)";
        DeleteFileW(aside.c_str());
    }
}

TEST(CheckedLaunch, RefusedProgramsAreNeverStartedAndHeldOnesStart)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    TrustPolicy onlyA;
    onlyA.signers = {KeyA};
    const struct {
        const wchar_t* file;
        bool tool;
        LaunchResult expected;
    } cases[] = {
        {L"unzip_signed_a.exe", true, LaunchResult::Started},
        {L"unzip_signed_b.exe", true, LaunchResult::Refused},
        {L"unzip.exe", true, LaunchResult::Refused},
        {L"setup_signed_a.exe", false, LaunchResult::Started},
        {L"setup_signed_b.exe", false, LaunchResult::Refused},
        {L"setup_altered.exe", false, LaunchResult::Refused},
        {L"fake_setup.exe", false, LaunchResult::Refused},
        {nullptr, false, LaunchResult::Failed},  // no Setup.exe at all
    };
    for (const auto& c : cases) {
        const std::string name = c.file ? Narrow(c.file) : "missing";
        ScratchDir dir;
        const InstallPaths paths = ComposeInstallPaths(dir.Path());
        const std::wstring log = dir / L"log.txt";
        SetEnvironmentVariableW(L"DL_FIXTURE_LOG", log.c_str());
        SetEnvironmentVariableW(L"DL_UNZIP_IDLE", L"1");
        LaunchResult result;
        if (c.tool) {
            ASSERT_TRUE(WriteFileBytes(paths.tool, ReadFileOrEmpty(FixturePath(c.file))));
            PROCESS_INFORMATION process = {};
            result = StartUnzipTool(paths.tool, paths.unzipCommandLine, dir.Path(), onlyA, process);
            if (result == LaunchResult::Started) {
                EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
            }
        } else {
            CreateDirectoryW(paths.installFolder.c_str(), nullptr);
            if (c.file) {
                ASSERT_TRUE(WriteFileBytes(paths.installer, ReadFileOrEmpty(FixturePath(c.file))));
            }
            result = LaunchSetup(paths.installer, onlyA);
        }
        SetEnvironmentVariableW(L"DL_FIXTURE_LOG", nullptr);
        SetEnvironmentVariableW(L"DL_UNZIP_IDLE", nullptr);
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.expected)) << name;
        const bool ran = WaitUntil([&] { return PathExists(log); }, c.expected == LaunchResult::Started ? 10000 : 1000);
        EXPECT_EQ(ran, c.expected == LaunchResult::Started) << name;
        // The hold ends with the call: the program folder can be cleaned up or updated again.
        const std::wstring& file = c.tool ? paths.tool : paths.installer;
        EXPECT_TRUE(WaitUntil([&] { return WriteFileBytes(file, "next"); }, 5000)) << name;
    }
    CoUninitialize();
}
