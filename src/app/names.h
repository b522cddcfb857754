// Start-up state of the process and the fixed names, paths and command line it works with.
// Every file the program writes, reads or runs lives in the program directory.
#pragma once

#include <windows.h>
#include <string>

extern HINSTANCE InstanceHandle;  // this executable's module
extern std::wstring ProgramDir;   // folder of the running exe, no trailing separator
extern std::string ProductCode;   // set once, when the code dialog accepts an entry

inline constexpr char PackageName[] = "brellocantix_hwn.zip";
inline constexpr char UnzipToolName[] = "unzip.exe";
inline constexpr wchar_t InstallFolderName[] = L"Setup BRELLOCANTIX";
inline constexpr wchar_t InstallerName[] = L"Setup.exe";
inline constexpr wchar_t TraceFileName[] = L"trace.txt";

// Full paths and the unzip command line, composed once from the program directory.
struct InstallPaths {
    std::wstring package;        // <dir>\brellocantix_hwn.zip
    std::wstring tool;           // <dir>\unzip.exe
    std::wstring installFolder;  // <dir>\Setup BRELLOCANTIX
    std::wstring installer;      // <dir>\Setup BRELLOCANTIX\Setup.exe
    std::wstring trace;          // <dir>\trace.txt
    std::wstring unzipCommandLine;  // "<dir>\unzip.exe" brellocantix_hwn.zip -d "Setup BRELLOCANTIX"
};

InstallPaths ComposeInstallPaths(const std::wstring& programDir);

// The module path cut before its last '\' or '/'; the whole text when there is none.
std::wstring DirectoryOfModulePath(const std::wstring& modulePath);

// The running executable's full path, however long.
std::wstring ModuleFilePath();

// The retry loop behind ModuleFilePath, over any query that behaves like GetModuleFileNameW
// (fills at most size characters and returns size when the path did not fit).
using ModulePathQuery = DWORD (*)(wchar_t* buffer, DWORD size);
std::wstring ReadModulePath(ModulePathQuery query);

void InitProgramDir();

// Narrow (ANSI code page) to wide; empty when the conversion fails.
std::wstring Widen(const std::string& text);

// True when a file or folder exists at the path.
bool FileExists(const std::wstring& path);
