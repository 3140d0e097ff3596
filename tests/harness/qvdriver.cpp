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
//     wait-text ID TEXT until the control shows TEXT (the program has put its value there)
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
//     wait-gone         until no such window is left
//     wait-enabled ID   until the control is shown and enabled (a wizard's Next, say)
//     click-text TEXT   a click on the shown, enabled button labelled TEXT (its access key's
//                       '&' left out), wherever it sits in the window (a wizard page's own
//                       controls are children of an inner dialog)
//     fits TEXT         whether the text of the static control whose text holds TEXT fits
//                       it: prints the height its text needs, word-wrapped in the control's
//                       own font, and the control's height, in pixels; exit code 1 when the
//                       text needs more
//     fits-all          the same for every shown static text of the window: prints the cut
//                       ones; exit code 1 when any is
//     processes         prints the process id of each such window there is now, a line each
//                       (none, when there is none)
//     controls          prints the shown controls at any depth, a line each: id, class and
//                       label (what a failed step saw)
//     default-button    prints the default button's id and its label (a message box's
//                       MB_DEFBUTTONn): the one drawn as default (BS_DEFPUSHBUTTON), checked
//                       to be the one Return presses (it has the focus, or DM_GETDEFID names it)
//
// --exe NAME: only the dialog of a process whose image file is NAME (another instance may be
// running); a NAME with a '\\' in it is the image's full path. --caption TEXT: the window with that
// caption (a message box, an installer) instead of the main dialog; with a final '*', a caption
// that begins with TEXT. --text TEXT: only a window that shows a control whose label holds TEXT (an
// installer and its message boxes share their caption). --timeout MS: how long answer and repaint
// wait (5000 by default). --wait MS: how long the waits last (15000 by default). --time: on
// success, prints last the moment the action was done or the state seen (a wait's end, a click's
// return), as Unix time in seconds, the clock the capture stamps packets with, so a script can set
// it beside the wire without counting this program's own start and end, which cost a second each
// under qemu's emulation. Exit code 0 on success; otherwise a one-line message on stderr and 2 (or
// 1 for "visible" when the dialog is hidden). Every wait is bounded.

#include <objbase.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kMainCaption[] = "Quorvane by Harrowbecks Software, Inc.";
const char* g_pszCaption = kMainCaption;
const char* g_pszText = nullptr;
const char kDialogClass[] = "#32770";
// The tray icon's callback: message, icon id, and the mouse message as lParam.
const UINT kTrayMessage = WM_APP + 100;
const WPARAM kTrayIconId = 128;
DWORD g_nWaitMs = 15000;
bool g_bTime = false;
// The delay's field.
const int kDelayId = 1000;
const DWORD kPollMs = 50;
const UINT kSendTimeoutMs = 5000;
UINT g_nTimeoutMs = kSendTimeoutMs;

int Fail(const std::string& strMessage) {
    std::fprintf(stderr, "qvdriver: %s\n", strMessage.c_str());
    return 2;
}

// The file name of the image of the window's process (its full path with bFull), or why
// there is none.
std::string ImageOf(HWND hwnd, bool bFull = false) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcess);
    if (hProcess == nullptr)
        return "(process " + std::to_string(dwProcess) + ": error " +
               std::to_string(GetLastError()) + ")";
    char szPath[MAX_PATH];
    DWORD dwLength = sizeof szPath;
    const BOOL bOk = QueryFullProcessImageNameA(hProcess, 0, szPath, &dwLength);
    const DWORD dwError = GetLastError();
    CloseHandle(hProcess);
    if (!bOk)
        return "(process " + std::to_string(dwProcess) + ", no image: error " +
               std::to_string(dwError) + ")";
    const char* pszBase = std::strrchr(szPath, '\\');
    return pszBase != nullptr && !bFull ? pszBase + 1 : szPath;
}

// A name with a folder in it is the image's full path: copies of one file name run from
// several folders.
bool ImageIs(HWND hwnd, const char* pszImage) {
    const bool bFull = std::strchr(pszImage, '\\') != nullptr;
    return _stricmp(ImageOf(hwnd, bFull).c_str(), pszImage) == 0;
}

// Sent, as the system sends a control's messages: bounded, as the program may be stuck in
// a modal box or a blocking call.
bool Send(HWND hwnd, UINT nMessage, WPARAM wParam, LPARAM lParam, DWORD_PTR& dwResult) {
    return SendMessageTimeoutA(hwnd, nMessage, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &dwResult) != 0;
}

// A control's label as the user reads it: the '&' that marks its access key left out.
std::string Label(HWND hwnd) {
    char szText[1024] = "";
    DWORD_PTR dwResult = 0;
    if (!Send(hwnd, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText), dwResult))
        return std::string();
    std::string strLabel;
    for (const char* psz = szText; *psz != '\0'; ++psz) {
        if (*psz == '&' && *++psz == '\0') break;
        strLabel += *psz;
    }
    return strLabel;
}

BOOL CALLBACK AddChild(HWND hwnd, LPARAM lParam) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
    return TRUE;
}

// The first shown control at any depth whose label holds (or, bWhole, is) strText.
HWND FindControl(HWND hwnd, const std::string& strText, bool bWhole) {
    std::vector<HWND> children;
    EnumChildWindows(hwnd, AddChild, reinterpret_cast<LPARAM>(&children));
    for (HWND hwndChild : children) {
        if (!IsWindowVisible(hwndChild)) continue;
        const std::string strLabel = Label(hwndChild);
        if (bWhole ? strLabel == strText : strLabel.find(strText) != std::string::npos)
            return hwndChild;
    }
    return nullptr;
}

// The caption, or with a final '*' what it begins with (a wizard names its page after it).
bool CaptionIs(HWND hwnd) {
    const size_t nLength = std::strlen(g_pszCaption);
    char szCaption[256] = "";
    if (nLength == 0 || g_pszCaption[nLength - 1] != '*') {
        // Another program's caption is read without a message, so this cannot block.
        GetWindowTextA(hwnd, szCaption, sizeof szCaption);
        return _stricmp(szCaption, g_pszCaption) == 0;
    }
    DWORD_PTR dwResult = 0;
    return Send(hwnd, WM_GETTEXT, sizeof szCaption, reinterpret_cast<LPARAM>(szCaption),
                dwResult) &&
           std::strncmp(szCaption, g_pszCaption, nLength - 1) == 0;
}

// From one list of the windows: a search that goes on from the window found last
// (FindWindowEx) finds nothing more once that one is gone (a program ending meanwhile), and
// would miss every window behind it.
std::vector<HWND> FindDialogs(const char* pszImage) {
    std::vector<HWND> windows;
    EnumWindows(AddChild, reinterpret_cast<LPARAM>(&windows));
    std::vector<HWND> found;
    for (HWND hwnd : windows) {
        char szClass[16] = "";
        GetClassNameA(hwnd, szClass, sizeof szClass);
        if (std::strcmp(szClass, kDialogClass) != 0 || !CaptionIs(hwnd)) continue;
        if (pszImage != nullptr && !ImageIs(hwnd, pszImage)) continue;
        if (g_pszText != nullptr && FindControl(hwnd, g_pszText, false) == nullptr) continue;
        found.push_back(hwnd);
    }
    return found;
}

// The dialog windows there are, for a failure's message: caption and image, or "none".
std::string DialogsSeen() {
    std::vector<HWND> windows;
    EnumWindows(AddChild, reinterpret_cast<LPARAM>(&windows));
    std::string strSeen;
    for (HWND hwnd : windows) {
        char szClass[16] = "";
        GetClassNameA(hwnd, szClass, sizeof szClass);
        if (std::strcmp(szClass, kDialogClass) != 0) continue;
        char szCaption[128] = "";
        GetWindowTextA(hwnd, szCaption, sizeof szCaption);
        strSeen += std::string(strSeen.empty() ? "" : ", ") + "\"" + szCaption + "\" of " +
                   ImageOf(hwnd) + (IsWindowVisible(hwnd) ? " (shown)" : "");
    }
    return " (dialogs there: " + (strSeen.empty() ? std::string("none") : strSeen) + ")";
}

// The program's dialog: nullptr with a message when there is none, or more than one to
// choose from.
HWND FindDialog(const char* pszImage, std::string& strWhy) {
    const std::vector<HWND> found = FindDialogs(pszImage);
    if (found.size() == 1) return found.front();
    const std::string strWindow =
        std::string("\"") + g_pszCaption + "\"" +
        (g_pszText != nullptr ? std::string(" showing \"") + g_pszText + "\"" : std::string());
    strWhy = found.empty() ? "no window " + strWindow + DialogsSeen()
                           : std::to_string(found.size()) + " windows " + strWindow +
                                 ": name the program with --exe";
    return nullptr;
}

bool ParseId(const char* pszText, int& nId) {
    char* pszEnd = nullptr;
    const long n = std::strtol(pszText, &pszEnd, 10);
    if (pszEnd == pszText || *pszEnd != '\0' || n < 0 || n > 0xFFFF) return false;
    nId = static_cast<int>(n);
    return true;
}

// Why the dialog did not come: its program ended (and how), or it does not answer (stuck in
// a call), or it answers and left the dialog as it was.
std::string WhyNot(HWND hwnd, HANDLE hProcess) {
    DWORD dwCode = 0;
    if (hProcess != nullptr && WaitForSingleObject(hProcess, 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(hProcess, &dwCode)) {
        char szCode[16];
        std::snprintf(szCode, sizeof szCode, "%#lx", static_cast<unsigned long>(dwCode));
        return std::string(": the program ended with exit code ") + szCode;
    }
    if (!IsWindow(hwnd)) return " (its program still runs)";
    DWORD_PTR dwResult = 0;
    return SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &dwResult)
               ? " (the program answers)"
               : " (the program does not answer)";
}

int WaitShown(HWND hwnd, bool bShown) {
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwnd, &dwProcess);
    HANDLE hProcess =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, dwProcess);
    std::string strWhy;
    for (const DWORD dwStart = GetTickCount();; Sleep(kPollMs)) {
        if (!IsWindow(hwnd)) {
            strWhy = "the dialog is gone" + WhyNot(hwnd, hProcess);
            break;
        }
        if ((IsWindowVisible(hwnd) != FALSE) == bShown) break;
        if (GetTickCount() - dwStart >= g_nWaitMs) {
            strWhy = std::string("the dialog is still ") + (bShown ? "hidden" : "shown") +
                     " after " + std::to_string(g_nWaitMs / 1000) + " s" + WhyNot(hwnd, hProcess);
            break;
        }
    }
    if (hProcess != nullptr) CloseHandle(hProcess);
    return strWhy.empty() ? 0 : Fail(strWhy);
}

int ClickButton(HWND hwnd, HWND hwndButton, const std::string& strName) {
    if (!IsWindowVisible(hwnd)) return Fail("the dialog is hidden: nothing there to click");
    // A modal box disables its owner: the mouse cannot reach the dialog then.
    if (!IsWindowEnabled(hwnd)) return Fail("the dialog is disabled (a message box open?)");
    if (!IsWindowVisible(hwndButton) || !IsWindowEnabled(hwndButton))
        return Fail("button " + strName + " is hidden or disabled");
    DWORD_PTR dwResult = 0;
    if (Send(hwndButton, BM_CLICK, 0, 0, dwResult)) return 0;
    // A click that ends the program may take its window with it before the answer.
    if (!IsWindow(hwnd)) return 0;
    return Fail("the click on " + strName + " did not return within " +
                std::to_string(kSendTimeoutMs / 1000) + " s (a message box open?)");
}

int Click(HWND hwnd, int nId) {
    HWND hwndButton = GetDlgItem(hwnd, nId);
    if (hwndButton == nullptr) return Fail("no control " + std::to_string(nId));
    return ClickButton(hwnd, hwndButton, std::to_string(nId));
}

int WaitEnabled(HWND hwnd, int nId) {
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < g_nWaitMs; Sleep(kPollMs)) {
        if (!IsWindow(hwnd)) return Fail("the dialog was destroyed");
        HWND hwndControl = GetDlgItem(hwnd, nId);
        if (hwndControl != nullptr && IsWindowVisible(hwndControl) && IsWindowEnabled(hwndControl))
            return 0;
    }
    return Fail("control " + std::to_string(nId) + " is still missing, hidden or disabled after " +
                std::to_string(g_nWaitMs / 1000) + " s");
}

int WaitText(HWND hwnd, int nId, const std::string& strWant) {
    std::string strSeen = "(none)";
    for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < g_nWaitMs; Sleep(kPollMs)) {
        if (!IsWindow(hwnd)) return Fail("the dialog was destroyed");
        char szText[1024] = "";
        DWORD_PTR dwResult = 0;
        HWND hwndControl = GetDlgItem(hwnd, nId);
        if (hwndControl == nullptr) return Fail("no control " + std::to_string(nId));
        if (!Send(hwndControl, WM_GETTEXT, sizeof szText, reinterpret_cast<LPARAM>(szText),
                  dwResult))
            continue;
        strSeen = "'" + std::string(szText) + "'";
        if (strSeen == "'" + strWant + "'") return 0;
    }
    return Fail("control " + std::to_string(nId) + " still shows " + strSeen + " after " +
                std::to_string(g_nWaitMs / 1000) + " s");
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

// The font a dialog template names, made as the dialog manager makes it; nullptr when it
// names none. Templates are WORD-aligned: a header, the menu, class and title, then the font.
HFONT TemplateFont(const WORD* pw) {
    const bool bEx = pw[0] == 1 && pw[1] == 0xFFFF;
    DWORD dwStyle = 0;
    std::memcpy(&dwStyle, pw + (bEx ? 6 : 0), sizeof dwStyle);
    pw += bEx ? 13 : 9;
    for (int nField = 0; nField < 2; ++nField) {  // the menu and the class: none, ordinal, name
        if (*pw == 0xFFFF)
            pw += 2;
        else
            while (*pw++ != 0) {
            }
    }
    while (*pw++ != 0) {  // the title
    }
    if (!(dwStyle & DS_SETFONT)) return nullptr;
    const WORD nPoints = *pw++;
    WORD nWeight = FW_DONTCARE;
    BYTE bItalic = FALSE, nCharset = DEFAULT_CHARSET;
    if (bEx) {
        nWeight = *pw++;
        bItalic = LOBYTE(*pw);
        nCharset = HIBYTE(*pw++);
    }
    HDC hdc = GetDC(nullptr);
    const int nPixels = MulDiv(nPoints, GetDeviceCaps(hdc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, hdc);
    return CreateFontW(-nPixels, 0, 0, 0, nWeight, bItalic, FALSE, FALSE, nCharset,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FF_DONTCARE,
                       reinterpret_cast<const wchar_t*>(pw));
}

BOOL CALLBACK FirstTemplateFont(HMODULE hModule, LPCWSTR, LPWSTR pszName, LONG_PTR lParam) {
    HRSRC hResource = FindResourceW(hModule, pszName, MAKEINTRESOURCEW(5));  // RT_DIALOG
    const void* pTemplate =
        hResource != nullptr ? LockResource(LoadResource(hModule, hResource)) : nullptr;
    if (pTemplate == nullptr) return TRUE;
    HFONT& hFont = *reinterpret_cast<HFONT*>(lParam);
    hFont = TemplateFont(static_cast<const WORD*>(pTemplate));
    return hFont == nullptr;
}

// The font of a control of another program. Its handle is good here where GDI handles are
// the session's (Windows); under Wine each process has its own, so the control is taken to
// have its dialog's font, which the program's dialog templates name (an installer's pages
// all have the one it was built with).
HFONT ControlFont(HWND hwndControl) {
    DWORD_PTR dwFont = 0;
    LOGFONTW font{};
    if (Send(hwndControl, WM_GETFONT, 0, 0, dwFont) && dwFont != 0 &&
        GetObjectW(reinterpret_cast<HFONT>(dwFont), sizeof font, &font) != 0)
        return CreateFontIndirectW(&font);
    DWORD dwProcess = 0;
    GetWindowThreadProcessId(hwndControl, &dwProcess);
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcess);
    if (hProcess == nullptr) return nullptr;
    wchar_t wszPath[MAX_PATH];
    DWORD dwLength = MAX_PATH;
    const BOOL bOk = QueryFullProcessImageNameW(hProcess, 0, wszPath, &dwLength);
    CloseHandle(hProcess);
    HMODULE hImage = bOk ? LoadLibraryExW(wszPath, nullptr,
                                          LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)
                         : nullptr;
    if (hImage == nullptr) return nullptr;
    HFONT hFont = nullptr;
    EnumResourceNamesW(hImage, MAKEINTRESOURCEW(5), FirstTemplateFont,
                       reinterpret_cast<LONG_PTR>(&hFont));
    FreeLibrary(hImage);
    return hFont;
}

// The text word-wrapped as a left-aligned static control draws it, in the control's font,
// against the control's client area.
int Measure(HWND hwndStatic, bool bQuiet) {
    wchar_t wszText[4096] = L"";
    DWORD_PTR dwResult = 0;
    if (!SendMessageTimeoutW(hwndStatic, WM_GETTEXT, sizeof wszText / sizeof *wszText,
                             reinterpret_cast<LPARAM>(wszText), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &dwResult))
        return Fail("the control gave no text");
    HFONT hFont = ControlFont(hwndStatic);
    if (hFont == nullptr) return Fail("cannot tell the control's font");
    RECT rectClient{};
    GetClientRect(hwndStatic, &rectClient);
    HDC hdc = GetDC(nullptr);
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    RECT rectText{0, 0, rectClient.right, 0};
    UINT nFormat = DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS;
    if (GetWindowLongA(hwndStatic, GWL_STYLE) & SS_NOPREFIX) nFormat |= DT_NOPREFIX;
    DrawTextW(hdc, wszText, -1, &rectText, nFormat);
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    ReleaseDC(nullptr, hdc);
    const bool bFits = rectText.bottom <= rectClient.bottom && rectText.right <= rectClient.right;
    if (!bQuiet || !bFits)
        std::printf("%ld %ld\n", static_cast<long>(rectText.bottom),
                    static_cast<long>(rectClient.bottom));
    // A word wider than the control widens the rectangle: that text is cut too.
    return bFits ? 0 : 1;
}

int Fits(HWND hwnd, const std::string& strText) {
    HWND hwndStatic = FindControl(hwnd, strText, false);
    if (hwndStatic == nullptr) return Fail("no control shows \"" + strText + "\"");
    return Measure(hwndStatic, false);
}

// Every shown static text of the window at any depth, measured as "fits" measures one: prints
// the cut ones (label, then the heights needed and had); exit code 1 when any is cut.
int FitsAll(HWND hwnd) {
    std::vector<HWND> children;
    EnumChildWindows(hwnd, AddChild, reinterpret_cast<LPARAM>(&children));
    int nCut = 0, nMeasured = 0;
    for (HWND hwndChild : children) {
        char szClass[16] = "";
        GetClassNameA(hwndChild, szClass, sizeof szClass);
        const LONG nType = GetWindowLongA(hwndChild, GWL_STYLE) & SS_TYPEMASK;
        if (!IsWindowVisible(hwndChild) || _stricmp(szClass, "Static") != 0 || nType == SS_ICON ||
            nType == SS_BITMAP || nType == SS_ETCHEDHORZ || Label(hwndChild).empty())
            continue;
        ++nMeasured;
        std::fflush(stdout);
        const int nFits = Measure(hwndChild, true);
        if (nFits != 0) {
            std::printf("cut: \"%s\"\n", Label(hwndChild).c_str());
            ++nCut;
        }
    }
    std::printf("%d of %d texts cut\n", nCut, nMeasured);
    return nCut == 0 ? 0 : 1;
}

// Return presses the focused push button, else the one the dialog names (DM_GETDEFID), and
// that is the one drawn as default; Wine's message boxes name a stale id and leave it to the
// focus, so the one drawn as default counts, and must have the focus or be the one named.
int DefaultButton(HWND hwnd) {
    std::vector<HWND> children;
    EnumChildWindows(hwnd, AddChild, reinterpret_cast<LPARAM>(&children));
    std::vector<HWND> drawn;
    for (HWND hwndChild : children) {
        char szClass[16] = "";
        GetClassNameA(hwndChild, szClass, sizeof szClass);
        if (_stricmp(szClass, "Button") == 0 &&
            (GetWindowLongA(hwndChild, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            drawn.push_back(hwndChild);
    }
    if (drawn.size() != 1)
        return Fail(std::to_string(drawn.size()) + " buttons are drawn as default");
    HWND hwndDefault = drawn.front();
    const int nId = GetDlgCtrlID(hwndDefault);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const bool bFocused = GetGUIThreadInfo(GetWindowThreadProcessId(hwnd, nullptr), &info) &&
                          info.hwndFocus == hwndDefault;
    DWORD_PTR dwNamed = 0;
    const bool bNamed = Send(hwnd, DM_GETDEFID, 0, 0, dwNamed) && HIWORD(dwNamed) == DC_HASDEFID &&
                        LOWORD(dwNamed) == nId;
    if (!bFocused && !bNamed)
        return Fail("button " + std::to_string(nId) + " (" + Label(hwndDefault) +
                    ") is drawn as default, but Return would not press it");
    std::printf("%d %s\n", nId, Label(hwndDefault).c_str());
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

// Now, in seconds since 1970 (the system time counts 100 ns steps since 1601).
double UnixNow() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    const ULONGLONG nTicks =
        (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<double>(nTicks - 116444736000000000ULL) / 1e7;
}

int Usage() {
    return Fail(
        "usage: qvdriver [--exe NAME] [--caption TEXT] [--timeout MS] [--wait MS] [--time] "
        "wait | tray-click | "
        "wait-visible | wait-hidden | visible | set-text ID TEXT | get-text ID | focus | "
        "wait-text ID TEXT | selection ID | click ID | post-click ID | tray-post | post-close | "
        "answer null|query-end-session | repaint | shortcut FILE | controls | wait-gone | "
        "wait-enabled ID | click-text TEXT | fits TEXT | fits-all | default-button | processes");
}

}  // namespace

int Act(int argc, char** argv) {
    int nArg = 1;
    const char* pszImage = nullptr;
    for (; nArg + 1 < argc && std::strncmp(argv[nArg], "--", 2) == 0; nArg += 2) {
        if (std::strcmp(argv[nArg], "--time") == 0) {
            g_bTime = true;
            --nArg;
        } else if (std::strcmp(argv[nArg], "--exe") == 0)
            pszImage = argv[nArg + 1];
        else if (std::strcmp(argv[nArg], "--caption") == 0)
            g_pszCaption = argv[nArg + 1];
        else if (std::strcmp(argv[nArg], "--text") == 0)
            g_pszText = argv[nArg + 1];
        else if (std::strcmp(argv[nArg], "--timeout") == 0)
            g_nTimeoutMs = static_cast<UINT>(std::strtoul(argv[nArg + 1], nullptr, 10));
        else if (std::strcmp(argv[nArg], "--wait") == 0)
            g_nWaitMs = static_cast<DWORD>(std::strtoul(argv[nArg + 1], nullptr, 10));
        else
            return Usage();
    }
    if (nArg >= argc) return Usage();
    const std::string strAction = argv[nArg++];
    const int nArgs = argc - nArg;

    if (strAction == "shortcut" && nArgs == 1) return PrintShortcut(argv[nArg]);

    if (strAction == "processes" && nArgs == 0) {
        for (HWND hwndFound : FindDialogs(pszImage)) {
            DWORD dwProcess = 0;
            GetWindowThreadProcessId(hwndFound, &dwProcess);
            std::printf("%lu\n", static_cast<unsigned long>(dwProcess));
        }
        return 0;
    }
    if (strAction == "wait-gone" && nArgs == 0) {
        for (DWORD dwStart = GetTickCount(); !FindDialogs(pszImage).empty(); Sleep(kPollMs)) {
            if (GetTickCount() - dwStart >= g_nWaitMs)
                return Fail(std::string("the window \"") + g_pszCaption +
                            "\" is still there after " + std::to_string(g_nWaitMs / 1000) + " s");
        }
        return 0;
    }

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
            if (GetTickCount() - dwStart >= g_nWaitMs)
                return Fail((hwnd == nullptr ? strWhy : "the dialog has not initialised") +
                            " after " + std::to_string(g_nWaitMs / 1000) + " s");
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
    if (strAction == "default-button" && nArgs == 0) return DefaultButton(hwnd);
    if (strAction == "controls" && nArgs == 0) {
        std::vector<HWND> children;
        EnumChildWindows(hwnd, AddChild, reinterpret_cast<LPARAM>(&children));
        for (HWND hwndChild : children) {
            if (!IsWindowVisible(hwndChild)) continue;
            char szClass[64] = "";
            GetClassNameA(hwndChild, szClass, sizeof szClass);
            std::printf("%d %s %s\n", GetDlgCtrlID(hwndChild), szClass, Label(hwndChild).c_str());
        }
        return 0;
    }
    if (strAction == "fits" && nArgs == 1) return Fits(hwnd, argv[nArg]);
    if (strAction == "fits-all" && nArgs == 0) return FitsAll(hwnd);
    if (strAction == "click-text" && nArgs == 1) {
        HWND hwndButton = FindControl(hwnd, argv[nArg], true);
        if (hwndButton == nullptr) return Fail(std::string("no control labelled ") + argv[nArg]);
        return ClickButton(hwnd, hwndButton, std::string("\"") + argv[nArg] + "\"");
    }
    if (strAction == "wait-enabled" && nArgs == 1) {
        if (!ParseId(argv[nArg], nId)) return Fail(std::string("not a control id: ") + argv[nArg]);
        return WaitEnabled(hwnd, nId);
    }
    if (strAction == "wait-text" && nArgs == 2) {
        if (!ParseId(argv[nArg], nId)) return Fail(std::string("not a control id: ") + argv[nArg]);
        return WaitText(hwnd, nId, argv[nArg + 1]);
    }
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

int main(int argc, char** argv) {
    const int nCode = Act(argc, argv);
    if (nCode == 0 && g_bTime) std::printf("%.6f\n", UnixNow());
    return nCode;
}
