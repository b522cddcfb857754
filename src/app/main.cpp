// Entry point: COM, the product code, the progress window, then one of the two install roads.
#include <windows.h>
#include <objbase.h>

#include <cstdlib>

#include "base/dll_safety.h"
#include "base/files.h"
#include "base/program.h"
#include "base/run_log.h"
#include "app/build_values.h"
#include "app/install_roads.h"
#include "app/names.h"
#include "net/protocol.h"
#include "res/version.h"
#include "ui/code_dialog.h"
#include "ui/error_box.h"
#include "ui/progress_window.h"
#include "ui/texts.h"

#if defined(__GLIBCXX__)
// The library's verbose handler prints a demangled type name that no one would see from a GUI
// program, and brings 46 KB of demangler with it; ending at once is all that is left to do.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // Before anything can load a DLL: this process runs elevated, often from Downloads.
    RestrictDllSearchToSystem32();

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
        ShowError(nullptr, text::ComInitFailed);
        return 1;
    }

    RoadContext context;
    context.paths = ComposeInstallPaths(ProgramDir);

    if (AskProductCode() == 2)
        ExitProcess(0);  // closed by the user: nothing to clean up that the system won't

    // Only a run that got past the code leaves a log.
    OpenRunLog(ProgramDir);
    LogRunHeader(L"" DOWNLOAD_VERSION_TEXT, Widen(ServerBase()));

    context.queryBase = BuildQueryBase(ServerBase(), ProductCode);
    context.unzipToolUrl = BuildUnzipToolUrl(ServerBase());
    ShowProgressWindow();

    const int exitCode = FileExists(context.paths.package) ? RunUpdateRoad(context)
                                                           : RunFirstInstallRoad(context);
    LogEvent(L"exit " + DecimalText(static_cast<uint32_t>(exitCode)));
    CloseRunLog();
    return exitCode;
}
