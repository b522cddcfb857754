// Static start-up: module handle, program directory and the empty product code.
#include "base/program.h"

#include <algorithm>
#include <vector>

// Defined in this order on purpose: static initialisation runs top to bottom in one file.
HINSTANCE InstanceHandle = GetModuleHandleW(nullptr);
std::string ProductCode;
std::wstring ProgramDir;
static const bool programDirReady = (InitProgramDir(), true);

std::wstring DirectoryOfModulePath(const std::wstring& modulePath)
{
    const size_t cut = modulePath.find_last_of(L"\\/");
    if (cut == std::wstring::npos)
        return modulePath;
    return modulePath.substr(0, cut);
}

std::wstring ReadModulePath(ModulePathQuery query)
{
    // GetModuleFileNameW truncates silently; ask again with a larger buffer until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size() || buffer.size() >= 32768)  // 32767: the longest path there is
            return std::wstring(buffer.data(), std::min<size_t>(length, buffer.size() - 1));
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ModuleFilePath()
{
    return ReadModulePath([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
}

void InitProgramDir()
{
    ProgramDir = DirectoryOfModulePath(ModuleFilePath());
}
