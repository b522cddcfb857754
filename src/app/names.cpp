// Static start-up (module handle, program directory, empty product code) and the fixed paths.
#include "app/names.h"

#include <io.h>

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

InstallPaths ComposeInstallPaths(const std::wstring& programDir)
{
    InstallPaths paths;
    paths.package = programDir + L"\\" + Widen(PackageName);
    paths.tool = programDir + L"\\" + Widen(UnzipToolName);
    paths.installFolder = programDir + L"\\" + InstallFolderName;
    paths.installer = paths.installFolder + L"\\" + InstallerName;
    paths.trace = programDir + L"\\" + TraceFileName;
    // The tool is quoted so that a folder with blanks never makes Windows try a shorter name.
    paths.unzipCommandLine = L"\"" + paths.tool + L"\" " + Widen(PackageName) + L" -d \"" +
                             InstallFolderName + L"\"";
    return paths;
}

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
