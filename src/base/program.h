// Process-wide start-up state: the module, the folder it runs from and the product code.
// Set by static start-up (program.cpp) before WinMain; the product code by the code dialog.
#pragma once

#include <windows.h>
#include <string>

extern HINSTANCE InstanceHandle;  // this executable's module
extern std::wstring ProgramDir;   // folder of the running exe, no trailing separator
extern std::string ProductCode;   // set once, when the code dialog accepts an entry

// The module path cut before its last '\' or '/'; the whole text when there is none.
std::wstring DirectoryOfModulePath(const std::wstring& modulePath);

// The running executable's full path, however long.
std::wstring ModuleFilePath();

// The retry loop behind ModuleFilePath, over any query that behaves like GetModuleFileNameW
// (fills at most size characters and returns size when the path did not fit).
using ModulePathQuery = DWORD (*)(wchar_t* buffer, DWORD size);
std::wstring ReadModulePath(ModulePathQuery query);

void InitProgramDir();
