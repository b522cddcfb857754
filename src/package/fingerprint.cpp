// MD5 through CryptoAPI, read in 4096-byte blocks, and the trace file.
#include "package/fingerprint.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>

#include "base/files.h"
#include "net/protocol.h"

namespace {

constexpr size_t BlockSize = 4096;

// Hashes the whole stream; false on a read error or a failing CryptHashData.
bool HashStream(HCRYPTHASH hash, FILE* file)
{
    unsigned char block[BlockSize];
    size_t count = std::fread(block, 1, BlockSize, file);
    while (count == BlockSize) {
        if (!CryptHashData(hash, block, BlockSize, 0))
            return false;
        count = std::fread(block, 1, BlockSize, file);
    }
    if (std::ferror(file))
        return false;  // a short read that is not the end of the file
    return CryptHashData(hash, block, static_cast<DWORD>(count), 0) != 0;
}

}  // namespace

std::string HexDigits(const unsigned char* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 0x0F];
    }
    return hex;
}

std::string ComputeFileMd5(const std::wstring& path)
{
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return std::string();
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
        CryptReleaseContext(provider, 0);
        return std::string();
    }
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        CryptDestroyHash(hash);
        CryptReleaseContext(provider, 0);
        return std::string();
    }

    std::string result;
    if (HashStream(hash, file)) {
        unsigned char digest[16];
        DWORD length = sizeof digest;
        if (CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0))
            result = HexDigits(digest, length);
    }

    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    std::fclose(file);
    return result;
}

std::string ComputeCheckValue(const std::wstring& packagePath)
{
    std::string value;
    if (FileExists(packagePath))
        value = ComputeFileMd5(packagePath);
    if (value.empty())
        value = UpToDateReply;
    return value;
}

void WriteTraceFile(const std::wstring& value, const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"w");
    if (!file)
        return;
    std::string bytes;
    for (const wchar_t c : value)
        bytes += (c < 0x80) ? static_cast<char>(c) : '?';  // the value is plain ASCII
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}
