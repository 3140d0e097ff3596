#include "framework/windows/win32accessible.h"

#include <oleacc.h>

#include <string>

#include "framework/dialog.h"
#include "framework/winapp.h"
#include "framework/windows/win32syslib.h"

namespace {

// The identifiers of the annotation service and of the two properties set, as the system
// defines them: defined here rather than taken from the accessibility library, which the
// program does not link (the COM library is bound at run time, from the system directory).
constexpr CLSID kClsidAccPropServices = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIidAccPropServices = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr MSAAPROPID kPropName = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
constexpr MSAAPROPID kPropDescription = {
    0x4d48dfe4, 0xbd3f, 0x491f, {0xa6, 0x48, 0x49, 0x2d, 0x6f, 0x20, 0xc5, 0x88}};

using PFN_CoInitializeEx = HRESULT(WINAPI*)(LPVOID, DWORD);
using PFN_CoCreateInstance = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);

// The system's annotation service, made on the first dialog and kept for the process; null
// when the system has none.
IAccPropServices* Services(HRESULT& hr) {
    static HRESULT s_hr = E_PENDING;
    static IAccPropServices* s_pServices = nullptr;
    if (s_hr == E_PENDING) {
        HMODULE hOle = Win32LoadSystemLibrary("ole32.dll");
        PFN_CoInitializeEx pfnInit = nullptr;
        PFN_CoCreateInstance pfnCreate = nullptr;
        if (!Win32BindEntry(hOle, "CoInitializeEx", pfnInit) ||
            !Win32BindEntry(hOle, "CoCreateInstance", pfnCreate)) {
            s_hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        } else {
            // The user-interface thread's apartment, for the process's life. A thread already
            // in another one is fine: the service lives in either.
            pfnInit(nullptr, COINIT_APARTMENTTHREADED);
            s_hr = pfnCreate(kClsidAccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                             kIidAccPropServices, reinterpret_cast<void**>(&s_pServices));
            if (FAILED(s_hr)) s_pServices = nullptr;
        }
    }
    hr = s_hr;
    return s_pServices;
}

std::wstring Wide(const CString& text) {
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

}  // namespace

HRESULT Win32Annotate(HWND hDialog, const CDialogTemplate& tmpl) {
    if (tmpl.accessible.empty()) return S_OK;
    HRESULT hr = S_OK;
    IAccPropServices* pServices = Services(hr);
    if (pServices == nullptr) return hr;
    HRESULT first = S_OK;
    const auto set = [&](HWND hItem, const MSAAPROPID& prop, UINT nTextId) {
        if (nTextId == 0) return;
        const std::wstring text = Wide(AfxLoadString(nTextId));
        const HRESULT result = pServices->SetHwndPropStr(hItem, static_cast<DWORD>(OBJID_CLIENT),
                                                         CHILDID_SELF, prop, text.c_str());
        if (FAILED(result) && SUCCEEDED(first)) first = result;
    };
    for (const CAccessibleItem& item : tmpl.accessible) {
        HWND hItem = ::GetDlgItem(hDialog, item.nID);
        if (hItem == nullptr) continue;
        set(hItem, kPropName, item.nNameId);
        set(hItem, kPropDescription, item.nDescriptionId);
    }
    return first;
}

void Win32ClearAnnotations(HWND hDialog, const CDialogTemplate& tmpl) {
    HRESULT hr = S_OK;
    IAccPropServices* pServices = tmpl.accessible.empty() ? nullptr : Services(hr);
    if (pServices == nullptr) return;
    MSAAPROPID props[] = {kPropName, kPropDescription};
    for (const CAccessibleItem& item : tmpl.accessible) {
        if (HWND hItem = ::GetDlgItem(hDialog, item.nID))
            pServices->ClearHwndProps(hItem, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, props,
                                      2);
    }
}
