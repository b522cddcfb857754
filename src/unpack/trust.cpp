// Signature and hash checks of the programs the elevated process starts. wintrust.dll and
// crypt32.dll are not known DLLs: they are loaded from System32 when a check needs them.
#include "unpack/trust.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <algorithm>
#include <cctype>

#include "base/dll_safety.h"
#include "base/files.h"
#include "base/run_log.h"
#include "package/fingerprint.h"

namespace {

struct TrustApi {
    LONG(WINAPI* verify)(HWND, GUID*, void*);
    CRYPT_PROVIDER_DATA*(WINAPI* providerData)(HANDLE);
    CRYPT_PROVIDER_SGNR*(WINAPI* signer)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
    BOOL(WINAPI* encode)(DWORD, LPCSTR, const void*, BYTE*, DWORD*);
};

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return fn != nullptr;
}

// Loaded once; null when either library or a function is missing. The modules stay loaded.
const TrustApi* Trust()
{
    static TrustApi api;
    static const bool loaded = [] {
        const HMODULE wintrust = LoadSystemLibrary(L"wintrust.dll");
        const HMODULE crypt32 = LoadSystemLibrary(L"crypt32.dll");
        return wintrust && crypt32 && Resolve(wintrust, "WinVerifyTrust", api.verify) &&
               Resolve(wintrust, "WTHelperProvDataFromStateData", api.providerData) &&
               Resolve(wintrust, "WTHelperGetProvSignerFromChain", api.signer) &&
               Resolve(crypt32, "CryptEncodeObject", api.encode);
    }();
    return loaded ? &api : nullptr;
}

// SHA-256 of a stream of blocks fed by the caller; the provider and hash released on destruction.
class Sha256 {
public:
    Sha256()
    {
        if (CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
            !CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_))
            hash_ = 0;
    }
    ~Sha256()
    {
        if (hash_)
            CryptDestroyHash(hash_);
        if (provider_)
            CryptReleaseContext(provider_, 0);
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Add(const BYTE* bytes, DWORD count) { return hash_ && CryptHashData(hash_, bytes, count, 0); }
    std::string Hex()
    {
        BYTE digest[32];
        DWORD size = sizeof digest;
        if (!hash_ || !CryptGetHashParam(hash_, HP_HASHVAL, digest, &size, 0) || size != sizeof digest)
            return {};
        return HexDigits(digest, size);
    }

private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
};

// The DER form of the key, as `openssl pkey -pubin -outform DER` writes it, hashed.
std::string KeyHash(const TrustApi& api, const CERT_CONTEXT* certificate)
{
    const CERT_PUBLIC_KEY_INFO* key = &certificate->pCertInfo->SubjectPublicKeyInfo;
    DWORD size = 0;
    if (!api.encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, nullptr, &size) || size == 0)
        return {};
    std::vector<BYTE> der(size);
    if (!api.encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, key, der.data(), &size))
        return {};
    Sha256 hash;
    return hash.Add(der.data(), size) ? hash.Hex() : std::string();
}

bool Listed(const std::vector<std::string>& list, const std::string& hash)
{
    return !hash.empty() && std::find(list.begin(), list.end(), hash) != list.end();
}

TrustVerdict CheckSigner(HANDLE file, const std::wstring& path, const TrustPolicy& policy)
{
    const SignatureCheck check = CheckSignature(file, path);
    LogEvent(L"signature check " + path + L": " + HexText(static_cast<uint32_t>(check.status)) +
             L" key " + Widen(check.signerKey.empty() ? std::string("-") : check.signerKey));
    if (check.status != 0 || check.signerKey.empty())
        return TrustVerdict::BadSignature;
    return Listed(policy.signers, check.signerKey) ? TrustVerdict::TrustedSigner
                                                   : TrustVerdict::ForeignSigner;
}

}  // namespace

std::vector<std::string> ParseHashList(const std::string& text)
{
    std::vector<std::string> hashes;
    std::string current;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ';';
        if (c == ';' || c == ',') {
            if (!current.empty())
                hashes.push_back(current);
            current.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            current += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return hashes;
}

HANDLE HoldFileForRun(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

SignatureCheck CheckSignature(HANDLE file, const std::wstring& path)
{
    SignatureCheck check;
    const TrustApi* api = Trust();
    if (!api) {
        check.status = static_cast<LONG>(GetLastError() ? GetLastError() : ERROR_MOD_NOT_FOUND);
        return check;
    }
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;  // the held handle: the bytes checked are the bytes that run
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    check.status = api->verify(nullptr, &action, &data);

    if (check.status == 0) {
        CRYPT_PROVIDER_DATA* provider = api->providerData(data.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer = provider ? api->signer(provider, 0, FALSE, 0) : nullptr;
        if (signer && signer->csCertChain > 0 && signer->pasCertChain[0].pCert)
            check.signerKey = KeyHash(*api, signer->pasCertChain[0].pCert);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    api->verify(nullptr, &action, &data);
    return check;
}

std::string FileSha256(HANDLE file)
{
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return {};
    Sha256 hash;
    BYTE block[65536];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, block, sizeof block, &count, nullptr))
            return {};
        if (count == 0)
            return hash.Hex();
        if (!hash.Add(block, count))
            return {};
    }
}

TrustVerdict CheckInstallerTrust(HANDLE file, const std::wstring& path, const TrustPolicy& policy)
{
    if (policy.signers.empty())
        return TrustVerdict::NotChecked;
    if (file == INVALID_HANDLE_VALUE)
        return TrustVerdict::Unreadable;
    return CheckSigner(file, path, policy);
}

TrustVerdict CheckToolTrust(HANDLE file, const std::wstring& path, const TrustPolicy& policy)
{
    if (policy.signers.empty() && policy.toolSha256.empty())
        return TrustVerdict::NotChecked;
    if (file == INVALID_HANDLE_VALUE)
        return TrustVerdict::Unreadable;
    TrustVerdict verdict = TrustVerdict::BadSignature;
    if (!policy.signers.empty()) {
        verdict = CheckSigner(file, path, policy);
        if (RunAllowed(verdict))
            return verdict;
    }
    if (!policy.toolSha256.empty()) {
        const std::string hash = FileSha256(file);
        LogEvent(L"tool hash " + Widen(hash.empty() ? std::string("-") : hash));
        if (hash.empty())
            return TrustVerdict::Unreadable;
        verdict = hash == policy.toolSha256 ? TrustVerdict::PinnedHash : TrustVerdict::HashDiffers;
    }
    return verdict;
}
