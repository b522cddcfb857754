// Unpacks the package into the install folder through the Windows Shell's automation object.
#pragma once

#include <string>

// True when the Shell accepted the copy (it may still be copying). On failure one error box
// with the failing step's text has been shown. The thread's COM count is unchanged after.
bool ExtractZip(const std::wstring& packagePath, const std::wstring& installFolderPath);
