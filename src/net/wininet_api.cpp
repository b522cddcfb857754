// Binds the WinINet entry points the fetch uses.
#include "net/wininet_api.h"

#include "base/dll_safety.h"

namespace {

template <typename Fn>
bool Bind(HMODULE module, const char* name, Fn& target)
{
    target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return target != nullptr;
}

}  // namespace

const WinInetApi* WinInet()
{
    static WinInetApi api;
    static bool tried = false;
    static bool ready = false;
    if (!tried) {
        tried = true;
        const HMODULE module = LoadSystemLibrary(L"wininet.dll");
        api.module = module;
        ready = module && Bind(module, "InternetOpenA", api.InternetOpenA) &&
                Bind(module, "InternetOpenUrlA", api.InternetOpenUrlA) &&
                Bind(module, "InternetSetOptionW", api.InternetSetOptionW) &&
                Bind(module, "InternetQueryOptionA", api.InternetQueryOptionA) &&
                Bind(module, "HttpQueryInfoA", api.HttpQueryInfoA) &&
                Bind(module, "InternetReadFile", api.InternetReadFile) &&
                Bind(module, "InternetCloseHandle", api.InternetCloseHandle);
    }
    return ready ? &api : nullptr;
}
