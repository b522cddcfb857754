// The fixed paths and the unzip command line, composed from the program directory.
#include "app/names.h"

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
