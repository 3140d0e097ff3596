// qvdriver: does what a user's clicks would do to the running program's dialog, one action
// per call, so a shell script can drive the real program under Wine.
//
//   qvdriver [--exe NAME] [--caption TEXT] ACTION [ARGS]
//     wait              until the dialog exists and has initialised itself (hidden while the
//                       program sits in the tray): a click before then would find no icon
//     tray-click        a left click on the tray icon, reported to the dialog as the shell does
//     wait-visible      until the dialog is shown
//     wait-hidden       until the dialog is hidden again
//     visible           exit code 0 when shown, 1 when hidden
//     set-text ID TEXT  the control's text, as typing it would leave it
//     get-text ID       prints the control's text
//     focus             prints the id of the control that has the focus
//     selection ID      prints where the edit's selection starts and ends, and its text's length
//     click ID          a mouse click on the button (only while the dialog is shown)
//     post-click ID     the same click as the mouse leaves it in the program's queue: returns
//                       at once, the program takes it when it next reads its messages
//     tray-post         a left click on the tray icon, posted as some shells do
//     post-close        a close request, posted as taskkill does
//     answer MESSAGE    sends WM_NULL (null) or WM_QUERYENDSESSION (query-end-session) and
//                       prints how long the answer took in milliseconds, and the answer
//     repaint           invalidates the dialog and waits until it has painted itself; prints
//                       the milliseconds that took
//     shortcut FILE     prints a shortcut's target and working directory, a line each, as
//                       the shell reads them (needs no window)
//
// --exe NAME: only the dialog of a process whose image file is NAME (another instance may be
// running). --caption TEXT: the window with that caption (a message box, say) instead of the
// main dialog. --timeout MS: how long answer and repaint wait (5000 by default). Exit code 0 on
// success; otherwise a one-line message on stderr and 2 (or 1 for "visible" when the dialog is
// hidden). Every wait is bounded.

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kMainCaption[] = "Quorvane by Harrowbecks Software, Inc.";
const char* g_pszCaption = kMainCaption;
const char kDialogClass[] = "#32770";
// The tray icon's callback: message, icon id, and the mouse message as lParam.
const UINT kTrayMessage = WM_APP + 100;
const WPARAM kTrayIconId = 128;
const DWORD kWaitMs = 15000;
// The delay's field.
const int kDelayId = 1000;
const DWORD kPollMs = 50;
const UINT kSendTimeoutMs = 5000;
UINT g_nTimeoutMs = kSendTimeoutMs;

int Fail(const std::string& strMessage) {
    std::fprintf(stderr, "qvdriver: %s\n", strMessage.c_str());
    return 2;
}

bool ImageIs(HWND hwnd, const char* pszImage) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcess);
    if (hProcess == nullptr) return false;
    char szPath[MAX_PATH];
    DWORD dwLength = sizeof szPath;
    const BOOL bOk = QueryFullProcessImageNameA(hProcess, 0, szPath, &dwLength);
    CloseHandle(hProcess);
    if (!bOk) return false;
    const char* pszBase = std::strrchr(szPath, '\\');
    return _stricmp(pszBase != nullptr ? pszBase + 1 : szPath, pszImage) == 0;
}

// The program's dialog: nullptr with a message when there is none, or more than one to
// choose from.
HWND FindDialog(const char* pszImage, std::string& strWhy) {
    HWND hwndFound = nullptr;
    int nFound = 0;
    for (HWND hwnd = nullptr;
         (hwnd = FindWindowExA(nullptr, hwnd, kDialogClass, g_pszCaption)) != nullptr;) {
        if (pszImage != nullptr && !ImageIs(hwnd, pszImage)) continue;
        hwndFound = hwnd;
        ++nFound;
    }
    if (nFound == 1) return hwndFound;
    strWhy = nFound == 0 ? std::string("no window \"") + g_pszCaption + "\""
                         : std::to_string(nFound) + " windows \"" + g_pszCaption +
                               "\": name the program with --exe";
    return nullptr;
}

bool ParseId(const char* pszText, int& nId) {
    char* pszEnd = nullptr;
    const long n = std::strtol(pszText, &pszEnd, 10);
    if (pszEnd == pszText || *pszEnd != '\0' || n < 0 || n > 0xFFFF) return false;
    nId = static_cast<int>(n);
    return true;
}

// Sent, as the system sends a control's messages: bounded, as the program may be stuck in
// a modal box or a blocking call.
bool Send(HWND hwnd, UINT nMessage, WPARAM wParam, LPARAM lParam, DWORD_PTR& dwResult) {
    return SendMessageTimeoutA(hwnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &dwResult) != 0;
}

int WaitShown(HWND hwnd, bool bShown) {
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < kWaitMs; Sleep(kPollMs)) {
        if (!IsWindow(hwnd)) return Fail("the dialog was destroyed");
        if ((IsWindowVisible(hwnd) != FALSE) == bShown) return 0;
    }
    return Fail(std::string("the dialog is still ") + (bShown ? "hidden" : "shown") + " after " +
                std::to_string(kWaitMs / 1000) + " s");
}

int Click(HWND hwnd, int nId) {
    if (!IsWindowVisible(hwnd)) return Fail("the dialog is hidden: nothing there to click");
    // A modal box disables its owner: the mouse cannot reach the dialog then.
    if (!IsWindowEnabled(hwnd)) return Fail("the dialog is disabled (a message box open?)");
    HWND hwndButton = GetDlgItem(hwnd, nId);
    if (hwndButton == nullptr) return Fail("no control " + std::to_string(nId));
    if (!IsWindowVisible(hwndButton) || !IsWindowEnabled(hwndButton))
        return Fail("button " + std::to_string(nId) + " is hidden or disabled");
    DWORD_PTR dwResult = 0;
    if (Send(hwndButton, BM_CLICK, 0, 0, dwResult)) return 0;
    // A click that ends the program may take its window with it before the answer.
    if (!IsWindow(hwnd)) return 0;
    return Fail("the click on " + std::to_string(nId) + " did not return within " +
                std::to_string(kSendTimeoutMs / 1000) + " s (a message box open?)");
}

// A left click on the button as the mouse leaves it in the program's queue: pressed and
// released over its middle.
int PostClick(HWND hwnd, int nId) {
    HWND hwndButton = GetDlgItem(hwnd, nId);
    if (hwndButton == nullptr) return Fail("no control " + std::to_string(nId));
    RECT rect{};
    GetClientRect(hwndButton, &rect);
    const LPARAM lPoint = MAKELPARAM((rect.right - rect.left) / 2, (rect.bottom - rect.top) / 2);
    if (!PostMessageA(hwndButton, WM_LBUTTONDOWN, MK_LBUTTON, lPoint) ||
        !PostMessageA(hwndButton, WM_LBUTTONUP, 0, lPoint))
        return Fail("the click on " + std::to_string(nId) + " was not delivered");
    return 0;
}

// Sent without giving up on a program that looks hung, so the time is the real one.
int Answer(HWND hwnd, UINT nMessage) {
    DWORD_PTR dwResult = 0;
    const DWORD dwStart = GetTickCount();
    if (!SendMessageTimeoutA(hwnd, nMessage, 0, 0, SMTO_NORMAL, g_nTimeoutMs, &dwResult))
        return Fail("no answer within " + std::to_string(g_nTimeoutMs) + " ms");
    std::printf("%lu %lu\n", static_cast<unsigned long>(GetTickCount() - dwStart),
                static_cast<unsigned long>(dwResult));
    return 0;
}

bool NeedsPainting(HWND hwnd) {
    if (GetUpdateRect(hwnd, nullptr, FALSE)) return true;
    for (HWND hwndChild = GetWindow(hwnd, GW_CHILD); hwndChild != nullptr;
         hwndChild = GetWindow(hwndChild, GW_HWNDNEXT)) {
        if (IsWindowVisible(hwndChild) && GetUpdateRect(hwndChild, nullptr, FALSE)) return true;
    }
    return false;
}

// What is invalid is painted by the program's own thread; until then it stays invalid.
int Repaint(HWND hwnd) {
    if (!IsWindowVisible(hwnd)) return Fail("the dialog is hidden: nothing to paint");
    const DWORD dwStart = GetTickCount();
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    while (NeedsPainting(hwnd)) {
        if (GetTickCount() - dwStart >= g_nTimeoutMs)
            return Fail("not painted within " + std::to_string(g_nTimeoutMs) + " ms");
        Sleep(5);
    }
    std::printf("%lu\n", static_cast<unsigned long>(GetTickCount() - dwStart));
    return 0;
}

int PrintShortcut(const char* pszFile) {
    if (FAILED(CoInitialize(nullptr))) return Fail("COM did not start");
    IShellLinkA* pLink = nullptr;
    IPersistFile* pFile = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&pLink));
    if (SUCCEEDED(hr))
        hr = pLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile));
    wchar_t wszFile[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, pszFile, -1, wszFile, MAX_PATH);
    if (SUCCEEDED(hr)) hr = pFile->Load(wszFile, STGM_READ);
    char szTarget[MAX_PATH] = {};
    char szDir[MAX_PATH] = {};
    if (SUCCEEDED(hr)) hr = pLink->GetPath(szTarget, MAX_PATH, nullptr, SLGP_RAWPATH);
    if (SUCCEEDED(hr)) hr = pLink->GetWorkingDirectory(szDir, MAX_PATH);
    if (pFile != nullptr) pFile->Release();
    if (pLink != nullptr) pLink->Release();
    CoUninitialize();
    if (FAILED(hr)) {
        char szError[16];
        std::snprintf(szError, sizeof szError, "%08lx", static_cast<unsigned long>(hr));
        return Fail(std::string("cannot read the shortcut ") + pszFile + ": error " + szError);
    }
    std::printf("%s\n%s\n", szTarget, szDir);
    return 0;
}

int Usage() {
    return Fail(
        "usage: qvdriver [--exe NAME] [--caption TEXT] [--timeout MS] wait | tray-click | "
        "wait-visible | wait-hidden | visible | set-text ID TEXT | get-text ID | focus | selection "
        "ID "
        "| click ID | post-click ID | tray-post | post-close | answer null|query-end-session | "
        "repaint | "
        "shortcut FILE");
}

}  // namespace

int main(int argc, char** argv) {
    int nArg = 1;
    const char* pszImage = nullptr;
    for (; nArg + 1 < argc && std::strncmp(argv[nArg], "--", 2) == 0; nArg += 2) {
        if (std::strcmp(argv[nArg], "--exe") == 0)
            pszImage = argv[nArg + 1];
        else if (std::strcmp(argv[nArg], "--caption") == 0)
            g_pszCaption = argv[nArg + 1];
        else if (std::strcmp(argv[nArg], "--timeout") == 0)
            g_nTimeoutMs = static_cast<UINT>(std::strtoul(argv[nArg + 1], nullptr, 10));
        else
            return Usage();
    }
    if (nArg >= argc) return Usage();
    const std::string strAction = argv[nArg++];
    const int nArgs = argc - nArg;

    if (strAction == "shortcut" && nArgs == 1) return PrintShortcut(argv[nArg]);

    std::string strWhy;
    HWND hwnd = FindDialog(pszImage, strWhy);
    if (strAction == "wait" && nArgs == 0) {
        // The main dialog's window exists from the start of its creation, its tray icon only
        // once it has initialised, which is when its fields have their values (the delay is
        // never empty then).
        const bool bMain = g_pszCaption == kMainCaption;
        DWORD_PTR dwLength = 0;
        for (DWORD dwStart = GetTickCount();
             hwnd == nullptr ||
             (bMain && !(Send(GetDlgItem(hwnd, kDelayId), WM_GETTEXTLENGTH, 0, 0, dwLength) &&
                         dwLength > 0));
             Sleep(kPollMs)) {
            if (GetTickCount() - dwStart >= kWaitMs)
                return Fail((hwnd == nullptr ? strWhy : "the dialog has not initialised") +
                            " after " + std::to_string(kWaitMs / 1000) + " s");
            if (hwnd == nullptr) hwnd = FindDialog(pszImage, strWhy);
        }
        return 0;
    }
    if (hwnd == nullptr) return Fail(strWhy);

    int nId = 0;
    DWORD_PTR dwResult = 0;
    if (strAction == "tray-click" && nArgs == 0) {
        // The shell does not wait for the program's answer.
        if (!SendNotifyMessageA(hwnd, kTrayMessage, kTrayIconId, WM_LBUTTONDOWN))
            return Fail("the tray message was not delivered");
        return 0;
    }
    if (strAction == "tray-post" && nArgs == 0) {
        if (!PostMessageA(hwnd, kTrayMessage, kTrayIconId, WM_LBUTTONDOWN))
            return Fail("the tray message was not delivered");
        return 0;
    }
    if (strAction == "post-close" && nArgs == 0) {
        if (!PostMessageA(hwnd, WM_CLOSE, 0, 0)) return Fail("the close request was not delivered");
        return 0;
    }
    if (strAction == "answer" && nArgs == 1) {
        const std::string strMessage = argv[nArg];
        if (strMessage == "null") return Answer(hwnd, WM_NULL);
        if (strMessage == "query-end-session") return Answer(hwnd, WM_QUERYENDSESSION);
        return Usage();
    }
    if (strAction == "repaint" && nArgs == 0) return Repaint(hwnd);
    if (strAction == "wait-visible" && nArgs == 0) return WaitShown(hwnd, true);
    if (strAction == "wait-hidden" && nArgs == 0) return WaitShown(hwnd, false);
    if (strAction == "visible" && nArgs == 0) return IsWindowVisible(hwnd) ? 0 : 1;
    if (strAction == "focus" && nArgs == 0) {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) ||
            info.hwndFocus == nullptr || !IsChild(hwnd, info.hwndFocus))
            return Fail("no control of the dialog has the focus");
        std::printf("%d\n", GetDlgCtrlID(info.hwndFocus));
        return 0;
    }
    if (strAction == "selection" && nArgs == 1) {
        if (!ParseId(argv[nArg], nId)) return Fail(std::string("not a control id: ") + argv[nArg]);
        HWND hwndControl = GetDlgItem(hwnd, nId);
        if (hwndControl == nullptr) return Fail("no control " + std::to_string(nId));
        // Without pointers, the answer carries both ends (as far as 65535).
        DWORD_PTR dwLength = 0;
        if (!Send(hwndControl, EM_GETSEL, 0, 0, dwResult) ||
            !Send(hwndControl, WM_GETTEXTLENGTH, 0, 0, dwLength))
            return Fail("control " + std::to_string(nId) + " gave no selection");
        std::printf("%u %u %lu\n", LOWORD(dwResult), HIWORD(dwResult),
                    static_cast<unsigned long>(dwLength));
        return 0;
    }
    if ((strAction == "set-text" && nArgs == 2) || (strAction == "get-text" && nArgs == 1) ||
        (strAction == "click" && nArgs == 1) || (strAction == "post-click" && nArgs == 1)) {
        if (!ParseId(argv[nArg], nId)) return Fail(std::string("not a control id: ") + argv[nArg]);
        if (strAction == "click") return Click(hwnd, nId);
        if (strAction == "post-click") return PostClick(hwnd, nId);
        HWND hwndControl = GetDlgItem(hwnd, nId);
        if (hwndControl == nullptr) return Fail("no control " + std::to_string(nId));
        if (strAction == "set-text") {
            if (!Send(hwndControl, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[nArg + 1]),
                      dwResult) ||
                !dwResult)
                return Fail("control " + std::to_string(nId) + " took no text");
            return 0;
        }
        char szText[1024] = "";
        if (!Send(hwndControl, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                  dwResult))
            return Fail("control " + std::to_string(nId) + " gave no text");
        std::printf("%s\n", szText);
        return 0;
    }
    return Usage();
}
