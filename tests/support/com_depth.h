// How many times the calling thread has initialised COM, read without disturbing it: an
// initialise spy sees the thread's count during one extra, balanced initialisation.
#pragma once

#include <objbase.h>

class DepthSpy : public IInitializeSpy {
public:
    DWORD seen = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IInitializeSpy) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT hr, DWORD, DWORD refs) override
    {
        seen = refs;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD) override { return S_OK; }
};

// -1 when the count cannot be read: a test asserts that it was read before comparing two.
inline int ComDepth()
{
    DepthSpy spy;
    ULARGE_INTEGER cookie;
    if (FAILED(CoRegisterInitializeSpy(&spy, &cookie)))
        return -1;
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    if (SUCCEEDED(hr))
        CoUninitialize();
    CoRevokeInitializeSpy(cookie);
    return SUCCEEDED(hr) ? static_cast<int>(spy.seen) - 1 : -1;
}
