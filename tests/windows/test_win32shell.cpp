// The Windows program's resources as the system and its tools read them from quorvane.exe,
// checked against the tables both platforms build from, and the common controls the running
// program gets from them; the system services bound to the program's windows: timers, the
// notification icon, icons, the clip and message boxes; the dialog's controls as screen
// readers read them.

#include <doctest/doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/dialog.h"
#include "framework/windows/win32accessible.h"
#include "framework/windows/win32backend.h"
#include "framework/windows/win32loop.h"
#include "harness/testskip.h"
#include "logic/listfile.h"
#include "platform/windows/win32platform.h"
#include "res/dialogstyles.h"
#include "res/resource.h"
#include "res/resources.h"

// clang-format off
#include <oleacc.h>
#include <psapi.h>
// clang-format on

namespace {

// The program under test, opened as the resource tools open it: as data, not run.
class CProgramImage {
public:
    CProgramImage() {
        m_hModule = ::LoadLibraryExA(QV_QUORVANE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~CProgramImage() {
        if (m_hModule != nullptr) ::FreeLibrary(m_hModule);
    }
    CProgramImage(const CProgramImage&) = delete;
    CProgramImage& operator=(const CProgramImage&) = delete;

    HMODULE Module() const { return m_hModule; }
    std::vector<BYTE> Resource(LPCSTR type, LPCSTR name) const {
        HRSRC hInfo = ::FindResourceA(m_hModule, name, type);
        if (hInfo == nullptr) return {};
        const BYTE* data =
            static_cast<const BYTE*>(::LockResource(::LoadResource(m_hModule, hInfo)));
        return std::vector<BYTE>(data, data + ::SizeofResource(m_hModule, hInfo));
    }

private:
    HMODULE m_hModule = nullptr;
};

// Reads a dialog resource in the extended template format, field by field.
class CTemplateReader {
public:
    explicit CTemplateReader(const std::vector<BYTE>& data) : m_data(data) {}
    template <typename T>
    T Get() {
        T value{};
        REQUIRE(m_pos + sizeof value <= m_data.size());
        std::memcpy(&value, m_data.data() + m_pos, sizeof value);
        m_pos += sizeof value;
        return value;
    }
    // A name or an ordinal: the ordinal, or -1 with the text.
    int NameOrOrdinal(CString& text) {
        text.clear();
        WORD first = Get<WORD>();
        if (first == 0xFFFF) return Get<WORD>();
        for (WORD c = first; c != 0; c = Get<WORD>()) text += static_cast<char>(c);
        return -1;
    }
    CString Text() {
        CString text;
        NameOrOrdinal(text);
        return text;
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~std::size_t{3}; }

private:
    const std::vector<BYTE>& m_data;
    std::size_t m_pos = 0;
};

// The system's class of each kind of control, by ordinal or by name (both are in use).
bool IsClassOf(CtrlKind kind, int nOrdinal, CString name) {
    for (char& c : name) c = static_cast<char>(::toupper(static_cast<unsigned char>(c)));
    switch (kind) {
        case CtrlKind::Edit:
            return nOrdinal == 0x81 || name == "EDIT";
        case CtrlKind::ListBox:
            return nOrdinal == 0x83 || name == "LISTBOX";
        case CtrlKind::Static:
        case CtrlKind::Icon:
            return nOrdinal == 0x82 || name == "STATIC";
        default:
            return nOrdinal == 0x80 || name == "BUTTON";
    }
}

void CheckDialogResource(const CProgramImage& image, UINT nID) {
    CAPTURE(nID);
    const CDialogTemplate* tmpl = FindDialogTemplate(nID);
    REQUIRE(tmpl != nullptr);
    const std::vector<BYTE> data = image.Resource(RT_DIALOG, MAKEINTRESOURCEA(nID));
    REQUIRE(!data.empty());
    CTemplateReader r(data);
    CHECK(r.Get<WORD>() == 1);       // version
    CHECK(r.Get<WORD>() == 0xFFFF);  // extended
    r.Get<DWORD>();                  // help id
    const DWORD exStyle = r.Get<DWORD>();
    const DWORD style = r.Get<DWORD>();
    CHECK(((exStyle & WS_EX_APPWINDOW) != 0) == ((tmpl->dwStyle & kStyleAppWindow) != 0));
    CHECK((style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT)) ==
          (WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    CHECK((style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE)) == 0);
    const WORD nItems = r.Get<WORD>();
    CHECK(r.Get<short>() == 0);  // x, y: centred by the framework
    CHECK(r.Get<short>() == 0);
    CHECK(r.Get<short>() == tmpl->cx);
    CHECK(r.Get<short>() == tmpl->cy);
    CString name;
    CHECK(r.NameOrOrdinal(name) == -1);  // no menu
    CHECK(r.NameOrOrdinal(name) == -1);  // the system's dialog class
    CHECK(r.Text() == tmpl->pszCaption);
    CHECK(r.Get<WORD>() == tmpl->nPointSize);
    r.Get<WORD>();  // weight
    r.Get<BYTE>();  // italic
    r.Get<BYTE>();  // character set
    CHECK(r.Text() == tmpl->pszFont);

    REQUIRE(nItems == tmpl->items.size());
    for (const CDialogItem& item : tmpl->items) {
        CAPTURE(item.pszText);
        r.AlignDword();
        r.Get<DWORD>();  // help id
        CHECK(r.Get<DWORD>() == item.dwNativeExStyle);
        CHECK((r.Get<DWORD>() & ~(WS_CHILD | WS_VISIBLE)) == item.dwNativeStyle);
        CHECK(r.Get<short>() == item.x);
        CHECK(r.Get<short>() == item.y);
        CHECK(r.Get<short>() == item.cx);
        CHECK(r.Get<short>() == item.cy);
        CHECK(static_cast<int>(r.Get<DWORD>()) == item.nID);
        const int nClass = r.NameOrOrdinal(name);
        CHECK(IsClassOf(item.kind, nClass, name));
        CString text;
        const int textOrdinal = r.NameOrOrdinal(text);
        if (item.kind == CtrlKind::Icon)
            CHECK(textOrdinal == static_cast<int>(item.nIconId));
        else
            CHECK(text == item.pszText);
        const WORD extra = r.Get<WORD>();
        for (WORD i = 0; i < extra; ++i) r.Get<BYTE>();
    }
}

CString VersionString(const std::vector<BYTE>& info, const char* pszName) {
    char* value = nullptr;
    UINT size = 0;
    const CString path = CString("\\StringFileInfo\\040904B0\\") + pszName;
    if (!::VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &size) ||
        value == nullptr)
        return "(missing)";
    return CString(value, std::strlen(value));
}

SIZE IconSize(HICON hIcon) {
    ICONINFO info{};
    SIZE size{0, 0};
    if (hIcon == nullptr || !::GetIconInfo(hIcon, &info)) return size;
    BITMAP bitmap{};
    ::GetObjectA(info.hbmColor != nullptr ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    size = {bitmap.bmWidth, bitmap.bmHeight};
    if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
    return size;
}

// A dialog of the program's own template that counts its ticks.
class CTickDlg : public CDialog {
public:
    explicit CTickDlg(CPlatform& platform) : CDialog(KeepAliveDialogTemplate(), platform) {}
    int m_nTicks = 0;

protected:
    void OnTimer(UINT_PTR /*nIDEvent*/) override { ++m_nTicks; }
};

// Runs the loop for about the given time.
void RunFor(DWORD dwMs) {
    const DWORD dwStart = ::GetTickCount();
    while (::GetTickCount() - dwStart < dwMs) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) Win32Dispatch(msg);
        ::Sleep(5);
    }
}

// The real program, started in a folder of its own with a list that sends nothing (no server,
// an hour's delay), and ended by a close request as taskkill sends it.
class CRunningProgram {
public:
    CRunningProgram() {
        char szTemp[MAX_PATH] = "";
        ::GetTempPathA(MAX_PATH, szTemp);
        m_strFolder = CString(szTemp) + "qvshell" + std::to_string(::GetCurrentProcessId());
        ::CreateDirectoryA(m_strFolder.c_str(), nullptr);
        const CString strList = m_strFolder + "\\" + kListFileName;
        HANDLE hFile = ::CreateFileA(strList.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            const char text[] = "3600\r\n0\r\n0\r\n";
            DWORD dwWritten = 0;
            ::WriteFile(hFile, text, sizeof text - 1, &dwWritten, nullptr);
            ::CloseHandle(hFile);
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        char szCommand[] = "quorvane.exe";
        m_bStarted = ::CreateProcessA(QV_QUORVANE_PATH, szCommand, nullptr, nullptr, FALSE, 0,
                                      nullptr, m_strFolder.c_str(), &startup, &m_process) != 0;
    }
    ~CRunningProgram() {
        if (m_bStarted) {
            if (m_hDialog != nullptr) ::PostMessageA(m_hDialog, WM_CLOSE, 0, 0);
            if (::WaitForSingleObject(m_process.hProcess, 10000) != WAIT_OBJECT_0)
                ::TerminateProcess(m_process.hProcess, 1);
            ::WaitForSingleObject(m_process.hProcess, 5000);
            ::CloseHandle(m_process.hThread);
            ::CloseHandle(m_process.hProcess);
        }
        ::DeleteFileA((m_strFolder + "\\" + kListFileName).c_str());
        ::RemoveDirectoryA(m_strFolder.c_str());
    }
    CRunningProgram(const CRunningProgram&) = delete;
    CRunningProgram& operator=(const CRunningProgram&) = delete;

    HANDLE Process() const { return m_process.hProcess; }
    HWND Dialog() const { return m_hDialog; }

    // Until its dialog exists, by when every library it imports is loaded; or why not.
    bool WaitForDialog(CString& strWhy) {
        if (!m_bStarted) {
            strWhy = "CreateProcess failed: " + std::to_string(::GetLastError());
            return false;
        }
        for (const DWORD dwStart = ::GetTickCount(); ::GetTickCount() - dwStart < 15000;) {
            ::EnumWindows(&CRunningProgram::FindDialog, reinterpret_cast<LPARAM>(this));
            if (m_hDialog != nullptr) return true;
            if (::WaitForSingleObject(m_process.hProcess, 50) == WAIT_OBJECT_0) {
                DWORD dwCode = 0;
                ::GetExitCodeProcess(m_process.hProcess, &dwCode);
                char szCode[16];
                std::snprintf(szCode, sizeof szCode, "%08lx", static_cast<unsigned long>(dwCode));
                strWhy = CString("the program ended at once with status ") + szCode;
                return false;
            }
        }
        strWhy = "no dialog after 15 s";
        return false;
    }

private:
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam) {
        auto* self = reinterpret_cast<CRunningProgram*>(lParam);
        DWORD dwProcess = 0;
        ::GetWindowThreadProcessId(hWnd, &dwProcess);
        char szClass[16] = "";
        ::GetClassNameA(hWnd, szClass, sizeof szClass);
        if (dwProcess != self->m_process.dwProcessId || std::strcmp(szClass, "#32770") != 0)
            return TRUE;
        self->m_hDialog = hWnd;
        return FALSE;
    }

    CString m_strFolder;
    PROCESS_INFORMATION m_process{};
    bool m_bStarted = false;
    HWND m_hDialog = nullptr;
};

// The path of the comctl32.dll the process loaded, or empty.
CString LoadedCommonControls(HANDLE hProcess) {
    std::vector<HMODULE> modules(256);
    DWORD cbNeeded = 0;
    if (!::EnumProcessModules(hProcess, modules.data(),
                              static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &cbNeeded))
        return CString();
    modules.resize(std::min<std::size_t>(modules.size(), cbNeeded / sizeof(HMODULE)));
    for (HMODULE hModule : modules) {
        char szPath[MAX_PATH] = "";
        const DWORD n = ::GetModuleFileNameExA(hProcess, hModule, szPath, MAX_PATH);
        const CString strPath(szPath, n);
        const auto separator = strPath.find_last_of('\\');
        if (_stricmp(strPath.substr(separator + 1).c_str(), "comctl32.dll") == 0) return strPath;
    }
    return CString();
}

// The scale the prefix gives its screen, where the user's settings keep it; 96 when unset.
UINT PrefixDpi() {
    DWORD dwDpi = 0;
    DWORD cb = sizeof dwDpi;
    if (::RegGetValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", RRF_RT_REG_DWORD,
                       nullptr, &dwDpi, &cb) == ERROR_SUCCESS &&
        dwDpi != 0)
        return dwDpi;
    return 96;
}

// Stands where the taskbar stands: the shell gives every icon to the first top-level window of
// the class "Shell_TrayWnd" it finds (a topmost one comes first). Wine's shell sends it the
// icon's bitmap, with its size, in WM_COPYDATA; its layout has moved between Wine versions,
// so both known places of the size are tried and an unknown layout is said, not guessed.
class CTaskbarWatch {
public:
    CTaskbarWatch() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &CTaskbarWatch::WindowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = "Shell_TrayWnd";
        ::RegisterClassA(&wc);
        m_hWnd = ::CreateWindowExA(WS_EX_TOOLWINDOW, "Shell_TrayWnd", nullptr, WS_POPUP, 0, 0, 1, 1,
                                   nullptr, nullptr, wc.hInstance, this);
        ::SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    ~CTaskbarWatch() {
        ::DestroyWindow(m_hWnd);
        ::UnregisterClassA("Shell_TrayWnd", ::GetModuleHandleA(nullptr));
    }
    CTaskbarWatch(const CTaskbarWatch&) = delete;
    CTaskbarWatch& operator=(const CTaskbarWatch&) = delete;

    bool IsFirst() const { return ::FindWindowA("Shell_TrayWnd", nullptr) == m_hWnd; }
    // The size of the last picture given for the window's icon (0 before any), or -1 when the
    // record's layout was not understood.
    int LastSize(HWND hOwner) const {
        for (auto it = m_pictures.rbegin(); it != m_pictures.rend(); ++it)
            if (it->first == hOwner) return it->second;
        return 0;
    }
    // The last picture's pixels, top-down BGRA, when it came in 32 bits a pixel.
    const std::vector<BYTE>& LastPixels() const { return m_lastPixels; }
    // Until a picture came from hOwner, or the time is up.
    int WaitForPicture(HWND hOwner, DWORD dwMs) {
        for (const DWORD dwStart = ::GetTickCount(); ::GetTickCount() - dwStart < dwMs;) {
            RunFor(20);
            if (LastSize(hOwner) != 0) return LastSize(hOwner);
        }
        return 0;
    }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CTaskbarWatch*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
        if (message != WM_COPYDATA || self == nullptr)
            return ::DefWindowProcA(hWnd, message, wParam, lParam);
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const auto* data = static_cast<const BYTE*>(cds->lpData);
        const DWORD uFlagsOffset = 8;
        if (cds->dwData == NIM_DELETE || cds->cbData < 16) return TRUE;
        UINT uFlags = 0;
        std::memcpy(&uFlags, data + uFlagsOffset, sizeof uFlags);
        if ((uFlags & NIF_ICON) == 0) return TRUE;
        // Width, height, planes and bits per pixel: after the record's GUID, or right after
        // the callback message, as Wine's versions have placed them.
        int nSize = -1;
        self->m_lastPixels.clear();
        for (const DWORD dwOffset : {DWORD{944}, DWORD{16}}) {
            UINT info[4] = {};
            if (cds->cbData < dwOffset + sizeof info) continue;
            std::memcpy(info, data + dwOffset, sizeof info);
            if (info[0] == info[1] && info[0] >= 8 && info[0] <= 256 && info[2] == 1 &&
                (info[3] == 1 || info[3] == 4 || info[3] == 8 || info[3] == 24 || info[3] == 32)) {
                nSize = static_cast<int>(info[0]);
                // The mask's bits, then the colour's: the colour's are the record's last.
                const DWORD dwColour = info[0] * info[1] * 4;
                if (info[3] == 32 && cds->cbData >= dwOffset + sizeof info + dwColour)
                    self->m_lastPixels.assign(data + cds->cbData - dwColour, data + cds->cbData);
                break;
            }
        }
        self->m_pictures.emplace_back(reinterpret_cast<HWND>(wParam), nSize);
        return TRUE;
    }

    HWND m_hWnd = nullptr;
    std::vector<std::pair<HWND, int>> m_pictures;
    std::vector<BYTE> m_lastPixels;
};

// The program's tray record for the window, without its icon.
CNotifyIconData TrayRecord(CWnd& wnd, UINT uFlags) {
    CNotifyIconData data;
    data.hWnd = &wnd;
    data.uID = 128;
    data.uFlags = uFlags;
    data.uCallbackMessage = WM_APP + 100;
    return data;
}

// Top-down BGRA pixels as a PNG (stored, not compressed: it is for looking at).
bool WritePng(const std::string& strPath, int nSize, const std::vector<BYTE>& bgra) {
    auto big32 = [](std::string& out, DWORD v) {
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xff);
    };
    auto crc = [](const std::string& bytes) {
        DWORD c = 0xffffffff;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
        }
        return ~c;
    };
    auto chunk = [&](std::string& png, const char* type, const std::string& body) {
        big32(png, static_cast<DWORD>(body.size()));
        const std::string typed = std::string(type, 4) + body;
        png += typed;
        big32(png, crc(typed));
    };
    std::string raw;
    for (int y = 0; y < nSize; ++y) {
        raw += '\0';
        for (int x = 0; x < nSize; ++x)
            for (int k : {2, 1, 0, 3}) raw += static_cast<char>(bgra[(y * nSize + x) * 4 + k]);
    }
    std::string z = "\x78\x01";
    for (std::size_t at = 0; at < raw.size(); at += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z += static_cast<char>(at + n == raw.size() ? 1 : 0);
        z += static_cast<char>(n & 0xff);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xff);
        z += static_cast<char>((~n >> 8) & 0xff);
        z += raw.substr(at, n);
    }
    DWORD a = 1, b = 0;
    for (unsigned char ch : raw) {
        a = (a + ch) % 65521;
        b = (b + a) % 65521;
    }
    big32(z, (b << 16) | a);
    std::string header;
    big32(header, static_cast<DWORD>(nSize));
    big32(header, static_cast<DWORD>(nSize));
    header += std::string("\x08\x06\0\0\0", 5);
    std::string png = "\x89PNG\r\n\x1a\n";
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    FILE* file = std::fopen(strPath.c_str(), "wb");
    if (file == nullptr) return false;
    const bool bOk = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && bOk;
}

// The first static control of the dialog whose text holds pszText.
HWND FindStatic(HWND hDialog, const char* pszText) {
    for (HWND hChild = ::GetWindow(hDialog, GW_CHILD); hChild != nullptr;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        char szClass[16] = "";
        ::GetClassNameA(hChild, szClass, sizeof szClass);
        if (_stricmp(szClass, "Static") == 0 &&
            Win32WindowText(hChild).find(pszText) != CString::npos)
            return hChild;
    }
    return nullptr;
}

// The file version a DLL's version record gives, as "a.b.c.d".
CString FileVersion(const CString& strPath) {
    DWORD dwHandle = 0;
    const DWORD dwSize = ::GetFileVersionInfoSizeA(strPath.c_str(), &dwHandle);
    std::vector<BYTE> info(dwSize);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (dwSize == 0 || !::GetFileVersionInfoA(strPath.c_str(), 0, dwSize, info.data()) ||
        !::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size))
        return "(none)";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace

TEST_CASE("the program's version record, as the file's properties show it") {
    DWORD dwHandle = 0;
    const DWORD dwSize = ::GetFileVersionInfoSizeA(QV_QUORVANE_PATH, &dwHandle);
    REQUIRE(dwSize > 0);
    std::vector<BYTE> info(dwSize);
    REQUIRE(::GetFileVersionInfoA(QV_QUORVANE_PATH, 0, dwSize, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    REQUIRE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
    CHECK(fixed->dwFileVersionMS == 0x00010000);
    CHECK(fixed->dwFileVersionLS == 0x00010000);
    CHECK(fixed->dwProductVersionMS == 0x00010000);
    CHECK(fixed->dwProductVersionLS == 0x00010000);
    CHECK(fixed->dwFileType == VFT_APP);
    CHECK(VersionString(info, "FileVersion") == "1, 0, 1, 0");
    CHECK(VersionString(info, "ProductVersion") == "1, 0, 1, 0");
    CHECK(VersionString(info, "Comments") ==
          "Quorvane: Pings a known server list to keep network connections up.");
    CHECK(VersionString(info, "FileDescription") == "Quorvane MFC Application");
    CHECK(VersionString(info, "InternalName") == "QUORVANE");
    CHECK(VersionString(info, "OriginalFilename") == "QUORVANE.EXE");
    CHECK(VersionString(info, "ProductName") == "QUORVANE Application");
    CHECK(VersionString(info, "CompanyName") == "Harrowbecks Software, Inc.");
    CHECK(VersionString(info, "LegalCopyright").find("Harrowbecks") != CString::npos);
}

TEST_CASE("the program's dialogs, strings, icons, clip and manifest, as resource tools see them") {
    CProgramImage image;
    REQUIRE(image.Module() != nullptr);
    // The dialog resources are the very tables the other backends place their widgets from.
    CheckDialogResource(image, IDD_KEEPALIVE_DIALOG);
    CheckDialogResource(image, IDD_ABOUTBOX);

    // Every text of the table, the framework's messages too, as the program reads it.
    int nStrings = 0;
#define QV_STRING(id, text)                                                  \
    {                                                                        \
        char loaded[1024] = {};                                              \
        CAPTURE(#id);                                                        \
        CHECK(::LoadStringA(image.Module(), id, loaded, sizeof loaded) > 0); \
        CHECK(CString(loaded) == text);                                      \
        CHECK(LoadResString(id) == text);                                    \
        ++nStrings;                                                          \
    }
#include "res/strings.def"
#undef QV_STRING
    CHECK(nStrings > 0);

    // Each icon holds the tray's 16 x 16 picture and the standard 32 x 32 one.
    for (UINT nIcon : {IDI_MAIN, IDI_PINGING, IDI_IDLE}) {
        CAPTURE(nIcon);
        for (int n : {16, 32}) {
            HICON hIcon = static_cast<HICON>(::LoadImageA(image.Module(), MAKEINTRESOURCEA(nIcon),
                                                          IMAGE_ICON, n, n, LR_DEFAULTCOLOR));
            const SIZE size = IconSize(hIcon);
            CHECK(size.cx == n);
            CHECK(size.cy == n);
            if (hIcon != nullptr) ::DestroyIcon(hIcon);
        }
    }

    // The clip, found by its name in any case: 11025 Hz, 8 bits, mono PCM, 20467 bytes.
    const std::vector<BYTE> wave = image.Resource("WAVE", "SonarSound");
    REQUIRE(wave.size() > 44);
    CHECK(std::memcmp(wave.data(), "RIFF", 4) == 0);
    CHECK(std::memcmp(wave.data() + 8, "WAVEfmt ", 8) == 0);
    WORD format = 0, channels = 0, bits = 0;
    DWORD rate = 0, dataSize = 0;
    std::memcpy(&format, wave.data() + 20, 2);
    std::memcpy(&channels, wave.data() + 22, 2);
    std::memcpy(&rate, wave.data() + 24, 4);
    std::memcpy(&bits, wave.data() + 34, 2);
    CHECK(format == 1);
    CHECK(channels == 1);
    CHECK(rate == 11025);
    CHECK(bits == 8);
    CHECK(std::memcmp(wave.data() + 36, "data", 4) == 0);
    std::memcpy(&dataSize, wave.data() + 40, 4);
    CHECK(dataSize == 20467);
    CHECK(image.Resource("WAVE", "SONARSOUND").size() == wave.size());

    const std::vector<BYTE> manifest = image.Resource(RT_MANIFEST, MAKEINTRESOURCEA(1));
    const CString strManifest(manifest.begin(), manifest.end());
    CHECK(strManifest.find("Microsoft.Windows.Common-Controls") != CString::npos);
    CHECK(strManifest.find("PerMonitorV2") != CString::npos);
    CHECK(
        strManifest.find("<longPathAware "
                         "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<") !=
        CString::npos);
    CHECK(strManifest.find("asInvoker") != CString::npos);
    // The program and the controls it depends on, both of the program's own architecture: a
    // dependency of another one is not found (the old controls), or found and not loadable.
    const CString strArch =
        CString("processorArchitecture=\"") + (sizeof(void*) == 8 ? "amd64" : "x86") + "\"";
    int nArch = 0, nOwnArch = 0;
    for (auto pos = strManifest.find("processorArchitecture="); pos != CString::npos;
         pos = strManifest.find("processorArchitecture=", pos + 1)) {
        ++nArch;
        if (strManifest.compare(pos, strArch.size(), strArch) == 0) ++nOwnArch;
    }
    CHECK(nArch == 2);
    CHECK(nOwnArch == nArch);
}

TEST_CASE("the running program's controls come from common controls 6 of its own architecture") {
    CRunningProgram program;
    CString strWhy;
    REQUIRE_MESSAGE(program.WaitForDialog(strWhy), strWhy);
    const CString strPath = LoadedCommonControls(program.Process());
    REQUIRE_MESSAGE(!strPath.empty(), "the program loaded no comctl32.dll");
    // The manifest's dependency puts the side-by-side assembly's copy in place of the system
    // directory's (5.8, the old controls): its folder names the assembly, its architecture
    // and its version, as Windows and Wine name them alike. Wine 8's comctl32 reports 5.81 from
    // both copies, in DllGetVersion and in its version record, so only the assembly tells.
    CString strFolder = strPath.substr(0, strPath.find_last_of('\\'));
    strFolder = strFolder.substr(strFolder.find_last_of('\\') + 1);
    std::transform(strFolder.begin(), strFolder.end(), strFolder.begin(),
                   [](unsigned char c) { return static_cast<char>(::tolower(c)); });
    const CString strAssembly = CString(sizeof(void*) == 8 ? "amd64" : "x86") +
                                "_microsoft.windows.common-controls_6595b64144ccf1df_";
    CString strVersion;
    if (strFolder.compare(0, strAssembly.size(), strAssembly) == 0)
        strVersion = strFolder.substr(strAssembly.size(),
                                      strFolder.find('_', strAssembly.size()) - strAssembly.size());
    // On every run, not only with -s as a MESSAGE: the results record which copy each build
    // loaded (the x86 one for win32, the amd64 one for win64, 6.0.2600.2982 under Wine 8).
    std::printf("quorvane.exe loaded %s: Common-Controls %s, file version %s\n", strPath.c_str(),
                strVersion.empty() ? "(none)" : strVersion.c_str(), FileVersion(strPath).c_str());
    CHECK_MESSAGE(strVersion.compare(0, 2, "6.") == 0,
                  "not the Common-Controls 6 assembly for this architecture: ", strPath);
}

TEST_CASE("timer ticks reach the window until killed; setting it again replaces it") {
    CWin32Platform platform;
    CTickDlg dlg(platform);
    REQUIRE(dlg.Create());
    dlg.SetTimer(1, 20);
    RunFor(300);
    CHECK(dlg.m_nTicks >= 3);
    // Replaced by a period longer than the wait: no tick meanwhile.
    dlg.SetTimer(1, 60000);
    const int nTicks = dlg.m_nTicks;
    RunFor(150);
    CHECK(dlg.m_nTicks == nTicks);
    dlg.SetTimer(1, 20);
    dlg.KillTimer(1);
    RunFor(150);
    CHECK(dlg.m_nTicks == nTicks);
}

TEST_CASE("the tray icon comes back when the shell starts again, and only while it exists") {
    CWin32Platform platform;
    CTickDlg dlg(platform);
    REQUIRE(dlg.Create());
    HWND hWnd = Win32HwndOf(&dlg);
    CNotifyIconData data = TrayRecord(dlg, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.hIcon = platform.LoadIcon(IDI_IDLE, 16, 16);
    std::strcpy(data.szTip, "Quorvane");
    REQUIRE(data.hIcon != nullptr);
    REQUIRE(platform.ShellNotifyIcon(NIM_ADD, data));
    // The caller's icon may go at once: the shell and the platform keep their own.
    platform.DestroyIcon(data.hIcon);
    data.hIcon = platform.LoadIcon(IDI_MAIN, 16, 16);
    CHECK(platform.ShellNotifyIcon(NIM_MODIFY, data));
    platform.DestroyIcon(data.hIcon);

    // The shell forgets the icon (it restarted) and says so to every top-level window.
    NOTIFYICONDATAA record{};
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = hWnd;
    record.uID = 128;
    REQUIRE(::Shell_NotifyIconA(NIM_DELETE, &record));
    CHECK_FALSE(::Shell_NotifyIconA(NIM_MODIFY, &record));
    const UINT uTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    ::SendMessageA(hWnd, uTaskbarCreated, 0, 0);
    CHECK(::Shell_NotifyIconA(NIM_MODIFY, &record));

    // Once the program removed it, it stays removed.
    data.hIcon = nullptr;
    data.szTip[0] = '\0';
    CHECK(platform.ShellNotifyIcon(NIM_DELETE, data));
    ::SendMessageA(hWnd, uTaskbarCreated, 0, 0);
    CHECK_FALSE(::Shell_NotifyIconA(NIM_MODIFY, &record));
}

TEST_CASE("icons at the size asked for, the clip from the program's module") {
    CWin32Platform platform;
    HICON hIcon = platform.LoadIcon(IDI_PINGING, 16, 16);
    CHECK(IconSize(hIcon).cx == 16);
    platform.DestroyIcon(hIcon);
    hIcon = platform.LoadIcon(IDI_MAIN, 32, 32);
    CHECK(IconSize(hIcon).cx == 32);
    platform.DestroyIcon(hIcon);
    CHECK(platform.LoadIcon(999, 16, 16) == nullptr);
    platform.DestroyIcon(nullptr);
    CHECK(platform.PlaySound("SonarSound", SND_ASYNC | SND_RESOURCE));
    ::PlaySoundA(nullptr, nullptr, 0);
}

// The program at the screen's scale, which tests/windows/wine_dpi.sh sets to 96, 144 and 192 dpi
// in turn: the tray picture at the small-icon size, the window's icons at the large and small
// ones, both again at a new scale when the window is told of it; the About box's text in
// exactly its own lines, its icon at the large-icon size.
TEST_CASE("at the screen's scale: the tray picture, the window's icons and the About box") {
    const UINT uDpi = PrefixDpi();
    const UINT uNewDpi = uDpi == 96 ? 144 : 96;
    const auto scaled = [](int cx, UINT dpi) { return ::MulDiv(cx, static_cast<int>(dpi), 96); };
    HDC hdc = ::GetDC(nullptr);
    const int nScreenDpi = ::GetDeviceCaps(hdc, LOGPIXELSX);
    ::ReleaseDC(nullptr, hdc);
    std::printf("scale: the prefix says %u dpi, the screen %d dpi\n", uDpi, nScreenDpi);
    REQUIRE(static_cast<UINT>(nScreenDpi) == uDpi);

    CTaskbarWatch taskbar;
    REQUIRE_MESSAGE(taskbar.IsFirst(), "the shell would not find the test's taskbar first");

    SUBCASE("the real program's tray picture, and again after WM_DPICHANGED") {
        CRunningProgram program;
        CString strWhy;
        REQUIRE_MESSAGE(program.WaitForDialog(strWhy), strWhy);
        HWND hDialog = program.Dialog();
        int nSize = taskbar.WaitForPicture(hDialog, 10000);
        if (nSize < 0) {
            SKIP_CASE("this Wine's shell sends its tray record in a layout the test does not know");
            return;
        }
        // The program may change its picture as it starts (the list loaded): the last one.
        RunFor(500);
        nSize = taskbar.LastSize(hDialog);
        std::printf("scale: at %u dpi the program's tray picture is %d px\n", uDpi, nSize);
        CHECK(nSize == scaled(16, uDpi));
        // The system adds the window's suggested place, a pointer that would mean nothing in
        // another process; the platform's handling does not read it, so none is given.
        DWORD_PTR dwResult = 0;
        CHECK(::SendMessageTimeoutA(hDialog, WM_DPICHANGED, MAKEWPARAM(uNewDpi, uNewDpi), 0,
                                    SMTO_NORMAL, 10000, &dwResult) != 0);
        // The program hands the new picture to the shell before it answers.
        RunFor(200);
        const int nNewSize = taskbar.LastSize(hDialog);
        std::printf("scale: after WM_DPICHANGED to %u dpi the tray picture is %d px\n", uNewDpi,
                    nNewSize);
        CHECK(nNewSize == scaled(16, uNewDpi));
        // Its end takes the icon away through this taskbar, which must go on answering meanwhile.
        ::PostMessageA(hDialog, WM_CLOSE, 0, 0);
        for (const DWORD dwStart = ::GetTickCount();
             ::GetTickCount() - dwStart < 10000 &&
             ::WaitForSingleObject(program.Process(), 0) == WAIT_TIMEOUT;)
            RunFor(20);
        DWORD dwCode = STILL_ACTIVE;
        ::GetExitCodeProcess(program.Process(), &dwCode);
        CHECK_MESSAGE(dwCode == 0, "the program did not end cleanly: ", dwCode);
    }

    SUBCASE("each tray picture as the shell gets it: drawn at its size, in true colour") {
        CWin32Platform platform;
        CTickDlg dlg(platform);
        REQUIRE(dlg.Create());
        HWND hWnd = Win32HwndOf(&dlg);
        CNotifyIconData data = TrayRecord(dlg, NIF_MESSAGE | NIF_ICON);
        // QV_TRAY_PICTURES_DIR: where to put them, to look at.
        const char* pszDir = std::getenv("QV_TRAY_PICTURES_DIR");
        DWORD dwMessage = NIM_ADD;
        const std::pair<UINT, const char*> pictures[] = {
            {IDI_IDLE, "idle"}, {IDI_MAIN, "waiting"}, {IDI_PINGING, "probing"}};
        for (const auto& [uId, pszState] : pictures) {
            CAPTURE(pszState);
            data.hIcon = platform.LoadIcon(uId, 16, 16);
            REQUIRE(platform.ShellNotifyIcon(dwMessage, data));
            platform.DestroyIcon(data.hIcon);
            dwMessage = NIM_MODIFY;
            RunFor(50);
            const int nSize = taskbar.LastSize(hWnd);
            if (nSize < 0) {
                SKIP_CASE(
                    "this Wine's shell sends its tray record in a layout the test does not know");
                break;
            }
            CHECK(nSize == scaled(16, uDpi));
            const std::vector<BYTE>& bgra = taskbar.LastPixels();
            REQUIRE(bgra.size() == static_cast<std::size_t>(nSize) * nSize * 4);
            // Smooth edges: the true-colour picture drawn at this size, not the 16-colour art
            // and not one stretched to it (either has only clear and opaque pixels).
            int nSoft = 0;
            for (std::size_t i = 3; i < bgra.size(); i += 4)
                nSoft += bgra[i] != 0 && bgra[i] != 255;
            CHECK(nSoft > 0);
            if (pszDir != nullptr)
                CHECK(WritePng(
                    std::string(pszDir) + "/wine-" + std::to_string(uDpi) + "-" + pszState + ".png",
                    nSize, bgra));
        }
        data.hIcon = nullptr;
        platform.ShellNotifyIcon(NIM_DELETE, data);
        dlg.DestroyWindow();
    }

    SUBCASE("the window's icons at its scale, and at a new one") {
        CWin32Platform platform;
        CTickDlg dlg(platform);
        // Before the window exists: the system's scale.
        HICON hIcon = platform.LoadIcon(IDI_MAIN, 32, 32);
        CHECK(IconSize(hIcon).cx == scaled(32, uDpi));
        REQUIRE(dlg.Create());
        HWND hWnd = Win32HwndOf(&dlg);
        dlg.SetIcon(hIcon, TRUE);
        dlg.SetIcon(hIcon, FALSE);
        CNotifyIconData data = TrayRecord(dlg, NIF_MESSAGE | NIF_ICON);
        data.hIcon = platform.LoadIcon(IDI_IDLE, 16, 16);
        CHECK(IconSize(data.hIcon).cx == scaled(16, uDpi));
        REQUIRE(platform.ShellNotifyIcon(NIM_ADD, data));
        platform.DestroyIcon(data.hIcon);

        ::SendMessageA(hWnd, WM_DPICHANGED, MAKEWPARAM(uNewDpi, uNewDpi), 0);
        const auto icon = [hWnd](WPARAM kind) {
            return IconSize(reinterpret_cast<HICON>(::SendMessageA(hWnd, WM_GETICON, kind, 0))).cx;
        };
        std::printf("scale: after WM_DPICHANGED to %u dpi the window's icons are %ld and %ld px\n",
                    uNewDpi, icon(ICON_BIG), icon(ICON_SMALL));
        CHECK(icon(ICON_BIG) == scaled(32, uNewDpi));
        CHECK(icon(ICON_SMALL) == scaled(16, uNewDpi));
        CHECK(taskbar.LastSize(hWnd) == scaled(16, uNewDpi));
        data.hIcon = nullptr;
        platform.ShellNotifyIcon(NIM_DELETE, data);
        dlg.DestroyWindow();
        platform.DestroyIcon(hIcon);
    }

    SUBCASE("the About box: its text in exactly its own lines, its icon at the large size") {
        CWin32Platform platform;
        CDialog about(AboutBoxTemplate(), platform);
        REQUIRE(about.Create());
        HWND hAbout = Win32HwndOf(&about);
        HWND hText = FindStatic(hAbout, "Copyright");
        REQUIRE(hText != nullptr);
        const CString strText = Win32WindowText(hText);
        const int nLines = 1 + static_cast<int>(std::count(strText.begin(), strText.end(), '\n'));
        // As the control lays it out: its own font, its own width, words wrapped.
        RECT rcClient{};
        ::GetClientRect(hText, &rcClient);
        HDC hdcText = ::GetDC(hText);
        HGDIOBJ hOld = ::SelectObject(
            hdcText, reinterpret_cast<HFONT>(::SendMessageA(hText, WM_GETFONT, 0, 0)));
        TEXTMETRICA tm{};
        ::GetTextMetricsA(hdcText, &tm);
        for (std::size_t nStart = 0; nStart < strText.size();) {
            std::size_t nEnd = strText.find('\n', nStart);
            if (nEnd == CString::npos) nEnd = strText.size();
            SIZE extent{};
            ::GetTextExtentPoint32A(hdcText, strText.c_str() + nStart,
                                    static_cast<int>(nEnd - nStart), &extent);
            char szFace[64] = "";
            ::GetTextFaceA(hdcText, sizeof szFace, szFace);
            std::printf("scale: line of %ld px (%s, %ld high)\n", extent.cx, szFace, tm.tmHeight);
            nStart = nEnd + 1;
        }
        RECT rcText = rcClient;
        ::DrawTextA(hdcText, strText.c_str(), -1, &rcText,
                    DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_LEFT);
        ::SelectObject(hdcText, hOld);
        ::ReleaseDC(hText, hdcText);
        const int nLaidOut = tm.tmHeight > 0 ? (rcText.bottom - rcText.top) / tm.tmHeight : 0;
        std::printf("scale: the About box's text at %u dpi: %d lines in %ld x %ld px (%d wanted)\n",
                    uDpi, nLaidOut, rcClient.right, rcClient.bottom, nLines);
        CHECK(nLaidOut == nLines);
        CHECK(rcText.bottom <= rcClient.bottom);
        // Nothing overlaps the text.
        RECT rcTextScreen{};
        ::GetWindowRect(hText, &rcTextScreen);
        for (HWND hChild = ::GetWindow(hAbout, GW_CHILD); hChild != nullptr;
             hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
            RECT rcChild{};
            RECT rcBoth{};
            ::GetWindowRect(hChild, &rcChild);
            if (hChild != hText) CHECK_FALSE(::IntersectRect(&rcBoth, &rcChild, &rcTextScreen));
        }
        HWND hIconCtl = nullptr;
        for (HWND hChild = ::GetWindow(hAbout, GW_CHILD); hChild != nullptr;
             hChild = ::GetWindow(hChild, GW_HWNDNEXT))
            if ((::GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) hIconCtl = hChild;
        REQUIRE(hIconCtl != nullptr);
        const long nIcon =
            IconSize(reinterpret_cast<HICON>(::SendMessageA(hIconCtl, STM_GETICON, 0, 0))).cx;
        std::printf("scale: the About box's icon at %u dpi: %ld px\n", uDpi, nIcon);
        CHECK(nIcon == scaled(32, uDpi));
        about.DestroyWindow();
    }
}

namespace {

CString g_strBoxCaption;
HWND g_hBoxOwner = nullptr;

// Answers the box with the given caption once it is on screen, as its user would.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR idEvent, DWORD) {
    HWND hBox = ::FindWindowA("#32770", g_strBoxCaption.c_str());
    if (hBox == nullptr) return;
    ::KillTimer(nullptr, idEvent);
    g_hBoxOwner = ::GetWindow(hBox, GW_OWNER);
    ::PostMessageA(hBox, WM_COMMAND, IDOK, 0);
}

}  // namespace

TEST_CASE("a message box belongs to its owner, and the program's messages go on meanwhile") {
    CWin32Platform platform;
    CTickDlg dlg(platform);
    REQUIRE(dlg.Create());
    dlg.ShowWindow(SW_SHOW);
    g_strBoxCaption = "Sonar Error";
    g_hBoxOwner = nullptr;
    dlg.SetTimer(1, 10);
    const UINT_PTR idAnswer = ::SetTimer(nullptr, 0, 200, &AnswerBox);
    CHECK(platform.MessageBox(&dlg, "Error closing ICMP socket.", "Sonar Error", MB_OK) == IDOK);
    ::KillTimer(nullptr, idAnswer);
    CHECK(g_hBoxOwner == Win32HwndOf(&dlg));
    CHECK(dlg.m_nTicks > 0);
    dlg.KillTimer(1);
}

TEST_CASE("screen readers: the controls' names and roles through the system's accessibility") {
    // IAccessible's identifier: the accessibility import library holds a stub by that name.
    constexpr IID kIidAccessible = {
        0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
    CWin32Platform platform;
    CDialog dlg(KeepAliveDialogTemplate(), platform);
    REQUIRE(dlg.Create());
    HWND hDialog = Win32HwndOf(&dlg);
    REQUIRE(hDialog != nullptr);

    const bool bWine =
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    // The names the program gives through Dynamic Annotation, where the system takes them.
    const HRESULT hrAnnotated = Win32Annotate(hDialog, KeepAliveDialogTemplate());
    if (bWine && hrAnnotated == E_NOTIMPL)
        MESSAGE(
            "Wine's IAccPropServices::SetHwndPropStr is not implemented (E_NOTIMPL): the "
            "controls keep the names Wine gives them");
    else
        CHECK(hrAnnotated == S_OK);

    struct CExpected {
        int nID;
        LONG nRole;
        const char* pszAnnotated;  // the name given, when the system takes it
        const char* pszOwn;        // the name the system gives otherwise; null: not checked
    };
    const CExpected expected[] = {
        {IDC_DELAY, ROLE_SYSTEM_TEXT, "Delay", nullptr},
        {IDC_NEW_SERVER, ROLE_SYSTEM_TEXT, "New Server", nullptr},
        {IDC_SERVER_LIST, ROLE_SYSTEM_LIST, "Server List", nullptr},
        {IDC_ADD, ROLE_SYSTEM_PUSHBUTTON, "Add", "Add ->"},
        {IDC_REMOVE, ROLE_SYSTEM_PUSHBUTTON, "Remove", "<- Remove"},
        {IDC_SOUND, ROLE_SYSTEM_CHECKBUTTON, "Sound", "Sound"},
        {IDC_CYCLE, ROLE_SYSTEM_CHECKBUTTON, "Cycle on No Contact", "Cycle on No Contact"},
        {IDOK, ROLE_SYSTEM_PUSHBUTTON, "OK", "OK"},
        {IDC_ABOUT, ROLE_SYSTEM_PUSHBUTTON, "About...", "About..."},
        {IDCANCEL, ROLE_SYSTEM_PUSHBUTTON, "Exit", "Exit"},
    };
    for (const CExpected& control : expected) {
        CAPTURE(control.nID);
        IAccessible* pAccessible = nullptr;
        REQUIRE(::AccessibleObjectFromWindow(::GetDlgItem(hDialog, control.nID),
                                             static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                             reinterpret_cast<void**>(&pAccessible)) == S_OK);
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        VARIANT role{};
        CHECK(pAccessible->get_accRole(self, &role) == S_OK);
        CHECK(role.vt == VT_I4);
        // Wine gives an edit its role; any other control is a plain client area there.
        if (bWine && role.lVal == ROLE_SYSTEM_CLIENT)
            MESSAGE("control ", control.nID, ": Wine reports the role of a client area");
        else
            CHECK(role.lVal == control.nRole);
        BSTR bstrName = nullptr;
        pAccessible->get_accName(self, &bstrName);
        CString name;
        for (UINT i = 0; bstrName != nullptr && i < ::SysStringLen(bstrName); ++i)
            name += static_cast<char>(bstrName[i]);
        ::SysFreeString(bstrName);
        pAccessible->Release();
        MESSAGE("control ", control.nID, " reads as \"", name, "\"");
        if (SUCCEEDED(hrAnnotated))
            CHECK(name == control.pszAnnotated);
        else if (control.pszOwn != nullptr)
            CHECK(name == control.pszOwn);
    }
    dlg.DestroyWindow();
}
