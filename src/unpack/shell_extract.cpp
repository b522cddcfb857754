// Shell ZIP extraction: ZIP opened as a Shell folder, its items copied into the install folder.
#include "unpack/shell_extract.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shldisp.h>

#include "base/run_log.h"
#include "ui/error_box.h"
#include "ui/texts.h"

namespace {

// {13709620-C279-11CE-A49E-444553540000}
const CLSID ShellClassId = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {D8F015C0-C278-11CE-A49E-444553540000}
const IID ShellDispatchId = {0xD8F015C0, 0xC278, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// No progress dialog, Yes to All, no error dialog.
constexpr long CopyOptions = 0x0004 | 0x0010 | 0x0400;

void LogStepFailure(const wchar_t* step, HRESULT hr)
{
    LogEvent(std::wstring(L"shell step ") + step + L" failed: " + HresultText(hr));
}

// True when a step failed, by its HRESULT or by succeeding without the object. The object is
// taken by reference so that it is read after the call has filled it.
template <typename T>
bool StepFailed(const wchar_t* step, HRESULT hr, T* const& object)
{
    if (FAILED(hr)) {
        LogStepFailure(step, hr);
        return true;
    }
    if (!object) {
        LogEvent(std::wstring(L"shell step ") + step + L" failed: " + HexText(static_cast<uint32_t>(hr)) +
                 L" with no object");
        return true;
    }
    return false;
}

}  // namespace

bool ExtractZip(const std::wstring& packagePath, const std::wstring& installFolderPath)
{
    // Nested on the entry thread's apartment: normally S_FALSE, balanced at the end.
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (FAILED(initialised)) {
        LogStepFailure(L"CoInitializeEx", initialised);
        ShowError(nullptr, text::ComInitFailed);
        return false;
    }

    VARIANT packageArg, folderArg, itemsArg, optionsArg;
    VariantInit(&packageArg);
    VariantInit(&folderArg);
    VariantInit(&itemsArg);
    VariantInit(&optionsArg);
    IShellDispatch* shell = nullptr;
    Folder* packageFolder = nullptr;
    Folder* targetFolder = nullptr;
    FolderItems* items = nullptr;

    const wchar_t* failure = nullptr;
    BSTR packageString = SysAllocString(packagePath.c_str());
    BSTR folderString = SysAllocString(installFolderPath.c_str());
    packageArg.vt = VT_BSTR;
    packageArg.bstrVal = packageString;
    folderArg.vt = VT_BSTR;
    folderArg.bstrVal = folderString;

    if (!packageString || !folderString) {
        LogStepFailure(L"SysAllocString", E_OUTOFMEMORY);
        failure = text::PathCopyFailed;
    } else if (!CreateDirectoryW(installFolderPath.c_str(), nullptr) &&
               GetLastError() != ERROR_ALREADY_EXISTS) {
        LogEvent(L"shell step CreateDirectory failed: " + ErrorText(GetLastError()));
        failure = text::CreateFolderFailed;
    } else if (StepFailed(L"CoCreateInstance(Shell)",
                          CoCreateInstance(ShellClassId, nullptr, CLSCTX_INPROC_SERVER, ShellDispatchId,
                                           reinterpret_cast<void**>(&shell)),
                          shell)) {
        failure = text::ShellDispatchFailed;
    } else if (StepFailed(L"NameSpace(package)", shell->NameSpace(packageArg, &packageFolder), packageFolder)) {
        failure = text::OpenZipFailed;
    } else if (StepFailed(L"NameSpace(target)", shell->NameSpace(folderArg, &targetFolder), targetFolder)) {
        failure = text::OpenTargetFailed;
    } else if (StepFailed(L"Items", packageFolder->Items(&items), items)) {
        failure = text::ListItemsFailed;
    } else {
        itemsArg.vt = VT_DISPATCH;
        itemsArg.pdispVal = items;  // borrowed: released through items below
        optionsArg.vt = VT_I4;
        optionsArg.lVal = CopyOptions;
        const HRESULT copied = targetFolder->CopyHere(itemsArg, optionsArg);
        if (FAILED(copied)) {
            LogStepFailure(L"CopyHere", copied);
            failure = text::CopyFailed;
        }
    }

    // The box comes up while the interfaces are still held, as they were when the step failed.
    if (failure)
        ShowError(nullptr, failure);

    if (items)
        items->Release();
    if (targetFolder)
        targetFolder->Release();
    if (packageFolder)
        packageFolder->Release();
    if (shell)
        shell->Release();
    SysFreeString(packageString);
    SysFreeString(folderString);
    CoUninitialize();
    return failure == nullptr;
}
