// Text widening, existence tests and atomic file replacement.
#include "base/files.h"

#include <windows.h>
#include <io.h>

#include <cstdio>

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length == 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length) == 0)
        return std::wstring();
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

bool FileExists(const std::wstring& path)
{
    return _waccess(path.c_str(), 0) == 0;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    return folder + L"\\" + name;
}

std::wstring TemporaryPathFor(const std::wstring& path)
{
    return path + L".part";
}

bool ReplaceWithTemporary(const std::wstring& temporary, const std::wstring& path)
{
    if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

bool SaveBuffer(const ByteBuffer& buffer, const std::wstring& path)
{
    const std::wstring temporary = TemporaryPathFor(path);
    FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file)
        return false;
    bool written = buffer.empty() || std::fwrite(buffer.data(), 1, buffer.size(), file) == buffer.size();
    written = (std::fflush(file) == 0) && written;
    written = (std::fclose(file) == 0) && written;
    if (!written) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return ReplaceWithTemporary(temporary, path);
}
