// qvcopies: the installer's plug-in that finds, closes and starts again the running copies of
// the program it replaces. A copy is a process whose image is the very file the installer
// writes (its full path, compared as the file system does): a portable copy elsewhere, or one
// of another installation, is none of its business.
//
//   qvcopies::Count EXE                        pushes how many copies of EXE run
//   qvcopies::Close EXE CAPTION RECORD FOLDER  asks each to close as a close request from
//       outside does (WM_CLOSE to its dialog, whose caption is CAPTION) and waits up to 5 s
//       for it to end; appends the folder each closed copy ran in to RECORD (FOLDER when that
//       cannot be read); pushes how many did not close, then how many did (pop the latter first)
//   qvcopies::Restart EXE RECORD               starts EXE again in each folder of RECORD,
//       deletes RECORD; pushes how many could not be started, then how many were
//
// Each function takes its arguments from the installer's stack (the first popped first) and
// pushes its results there as decimal text, the last pushed popped first.

// The tool help declarations need the types windows.h declares.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include <cwchar>

namespace {

// The installer's stack of strings, each of the length the installer gives.
struct CStackEntry {
    CStackEntry* pNext;
    wchar_t wszText[1];
};

constexpr DWORD kCloseWaitMs = 5000;
constexpr DWORD kWindowWaitMs = 5000;
constexpr size_t kPathChars = 32768;
constexpr size_t kRecordChars = 65536;

// The paths a call works with, long enough for any the system has; taken from the heap for the
// call, which keeps the DLL small.
struct CBuffers {
    wchar_t wszImage[kPathChars], wszArg[kPathChars], wszCaption[256], wszRecord[kPathChars],
        wszFolder[kPathChars], wszPath[kPathChars], wszCanonical[kPathChars], wszLong[kPathChars],
        wszCommand[kPathChars + 3], wszLines[kRecordChars];
};
CBuffers* g_pBuffers = nullptr;

bool Pop(CStackEntry** ppTop, wchar_t* pwszOut, size_t nOut) {
    if (ppTop == nullptr || *ppTop == nullptr) return false;
    CStackEntry* pEntry = *ppTop;
    lstrcpynW(pwszOut, pEntry->wszText, static_cast<int>(nOut));
    *ppTop = pEntry->pNext;
    GlobalFree(pEntry);
    return true;
}

void Push(CStackEntry** ppTop, int nStringSize, unsigned long nValue) {
    if (ppTop == nullptr || nStringSize < 12) return;
    auto* pEntry = static_cast<CStackEntry*>(
        GlobalAlloc(GPTR, sizeof(CStackEntry) + nStringSize * sizeof(wchar_t)));
    if (pEntry == nullptr) return;
    wsprintfW(pEntry->wszText, L"%lu", nValue);
    pEntry->pNext = *ppTop;
    *ppTop = pEntry;
}

// A path as the file system names it: absolute, long names, no trailing separator; a path
// that does not exist is taken as it is written.
void Canonical(const wchar_t* pwszPath, wchar_t* pwszOut, DWORD nOut) {
    const DWORD nFull = GetFullPathNameW(pwszPath, nOut, pwszOut, nullptr);
    if (nFull == 0 || nFull >= nOut) lstrcpynW(pwszOut, pwszPath, static_cast<int>(nOut));
    wchar_t* pwszLong = g_pBuffers->wszLong;
    const DWORD nLong = GetLongPathNameW(pwszOut, pwszLong, kPathChars);
    if (nLong > 0 && nLong < kPathChars && nLong < nOut) lstrcpyW(pwszOut, pwszLong);
}

bool SamePath(const wchar_t* pwszA, const wchar_t* pwszB) {
    return CompareStringOrdinal(pwszA, -1, pwszB, -1, TRUE) == CSTR_EQUAL;
}

// Whether the process runs the image at the canonical path.
bool RunsImage(HANDLE hProcess, const wchar_t* pwszImage) {
    CBuffers& b = *g_pBuffers;
    DWORD nLength = kPathChars;
    if (!QueryFullProcessImageNameW(hProcess, 0, b.wszPath, &nLength)) return false;
    Canonical(b.wszPath, b.wszCanonical, kPathChars);
    return SamePath(b.wszCanonical, pwszImage);
}

using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);

template <typename T>
bool ReadAt(HANDLE hProcess, ULONG_PTR nAddress, T& value) {
    SIZE_T nRead = 0;
    return nAddress != 0 &&
           ReadProcessMemory(hProcess, reinterpret_cast<const void*>(nAddress), &value,
                             sizeof value, &nRead) &&
           nRead == sizeof value;
}

// The folder the process works in, from its process parameters (the system keeps the current
// directory there): false when it cannot be read. A 32-bit installer on 64-bit Windows reads
// the 32-bit block of a 32-bit program; otherwise the block is of this installer's own width.
bool WorkingFolder(HANDLE hProcess, wchar_t* pwszOut, size_t nOut) {
    const auto pfnQuery = reinterpret_cast<NtQueryInformationProcessFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (pfnQuery == nullptr) return false;
    constexpr int kProcessBasicInformation = 0, kProcessWow64Information = 26;
    ULONG_PTR nPeb = 0;
    bool bNarrow = sizeof(void*) == 4;
    BOOL bWow64 = FALSE;
    if (sizeof(void*) == 4 && IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64) {
        // A 64-bit program has no 32-bit block: it is not one of ours.
        if (pfnQuery(hProcess, kProcessWow64Information, &nPeb, sizeof nPeb, nullptr) != 0)
            return false;
    } else {
        struct {
            void* pReserved1;
            void* pPeb;
            ULONG_PTR nReserved2[4];
        } basic{};
        if (pfnQuery(hProcess, kProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
            return false;
        nPeb = reinterpret_cast<ULONG_PTR>(basic.pPeb);
    }
    // Where the parameters' address sits in the block, and the current directory's text
    // (length in bytes, then the address of its characters) in the parameters.
    USHORT nBytes = 0;
    ULONG_PTR nText = 0;
    if (bNarrow) {
        DWORD nParams = 0;
        struct {
            USHORT nLength, nMaximum;
            DWORD nBuffer;
        } text{};
        if (!ReadAt(hProcess, nPeb + 0x10, nParams) || !ReadAt(hProcess, nParams + 0x24, text))
            return false;
        nBytes = text.nLength;
        nText = text.nBuffer;
    } else {
        ULONG_PTR nParams = 0;
        struct {
            USHORT nLength, nMaximum;
            DWORD nPad;
            ULONG_PTR nBuffer;
        } text{};
        if (!ReadAt(hProcess, nPeb + 0x20, nParams) || !ReadAt(hProcess, nParams + 0x38, text))
            return false;
        nBytes = text.nLength;
        nText = text.nBuffer;
    }
    const size_t nChars = nBytes / sizeof(wchar_t);
    SIZE_T nRead = 0;
    if (nChars == 0 || nChars >= nOut ||
        !ReadProcessMemory(hProcess, reinterpret_cast<const void*>(nText), pwszOut, nBytes,
                           &nRead) ||
        nRead != nBytes)
        return false;
    pwszOut[nChars] = L'\0';
    // "C:\Folder\" names the folder "C:\Folder"; a drive's root keeps its separator.
    if (nChars > 3 && pwszOut[nChars - 1] == L'\\') pwszOut[nChars - 1] = L'\0';
    return true;
}

struct CDialogSearch {
    DWORD nProcess;
    const wchar_t* pwszCaption;
    HWND hwnd;
};

BOOL CALLBACK FindDialogOf(HWND hwnd, LPARAM lParam) {
    auto& search = *reinterpret_cast<CDialogSearch*>(lParam);
    DWORD nProcess = 0;
    GetWindowThreadProcessId(hwnd, &nProcess);
    if (nProcess != search.nProcess) return TRUE;
    wchar_t wszClass[16] = L"", wszCaption[256] = L"";
    GetClassNameW(hwnd, wszClass, 16);
    GetWindowTextW(hwnd, wszCaption, 256);
    if (lstrcmpW(wszClass, L"#32770") != 0 || lstrcmpW(wszCaption, search.pwszCaption) != 0)
        return TRUE;
    search.hwnd = hwnd;
    return FALSE;
}

// The copy's main dialog; one just starting may not have made it yet.
HWND DialogOf(DWORD nProcess, HANDLE hProcess, const wchar_t* pwszCaption) {
    const DWORD nStart = GetTickCount();
    for (;;) {
        CDialogSearch search{nProcess, pwszCaption, nullptr};
        EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
        if (search.hwnd != nullptr || GetTickCount() - nStart >= kWindowWaitMs ||
            WaitForSingleObject(hProcess, 100) != WAIT_TIMEOUT)
            return search.hwnd;
    }
}

void Append(const wchar_t* pwszRecord, const wchar_t* pwszLine) {
    HANDLE hFile = CreateFileW(pwszRecord, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    DWORD nWritten = 0;
    WriteFile(hFile, pwszLine, lstrlenW(pwszLine) * sizeof(wchar_t), &nWritten, nullptr);
    WriteFile(hFile, L"\n", sizeof(wchar_t), &nWritten, nullptr);
    CloseHandle(hFile);
}

// Calls the function with each running copy of the image (a canonical path), its process
// opened for what closing it needs.
template <typename F>
void ForEachCopy(const wchar_t* pwszImage, F&& f) {
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD nSelf = GetCurrentProcessId();
    for (BOOL bMore = Process32FirstW(hSnapshot, &entry); bMore;
         bMore = Process32NextW(hSnapshot, &entry)) {
        if (entry.th32ProcessID == nSelf) continue;
        HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION |
                                          PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE,
                                      FALSE, entry.th32ProcessID);
        if (hProcess == nullptr)
            hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                   entry.th32ProcessID);
        if (hProcess == nullptr) continue;
        if (RunsImage(hProcess, pwszImage)) f(entry.th32ProcessID, hProcess);
        CloseHandle(hProcess);
    }
    CloseHandle(hSnapshot);
}

bool PopImage(CStackEntry** ppTop) {
    CBuffers& b = *g_pBuffers;
    if (!Pop(ppTop, b.wszArg, kPathChars)) return false;
    Canonical(b.wszArg, b.wszImage, kPathChars);
    return true;
}

// The buffers for the length of one call.
class CCall {
public:
    CCall() {
        g_pBuffers = static_cast<CBuffers*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CBuffers)));
    }
    ~CCall() {
        if (g_pBuffers != nullptr) HeapFree(GetProcessHeap(), 0, g_pBuffers);
        g_pBuffers = nullptr;
    }
    bool Ok() const { return g_pBuffers != nullptr; }
    CBuffers& Buffers() const { return *g_pBuffers; }
};

}  // namespace

#define QV_PLUGIN(name)                                                                 \
    extern "C" __declspec(dllexport) void __cdecl name(HWND, int nStringSize, wchar_t*, \
                                                       CStackEntry** ppTop, void*)

QV_PLUGIN(Count) {
    CCall call;
    unsigned long nCopies = 0;
    if (call.Ok() && PopImage(ppTop))
        ForEachCopy(g_pBuffers->wszImage, [&](DWORD, HANDLE) { ++nCopies; });
    Push(ppTop, nStringSize, nCopies);
}

QV_PLUGIN(Close) {
    CCall call;
    unsigned long nClosed = 0, nLeft = 0;
    if (!call.Ok()) return Push(ppTop, nStringSize, 0), Push(ppTop, nStringSize, 0);
    CBuffers& b = call.Buffers();
    if (PopImage(ppTop) && Pop(ppTop, b.wszCaption, 256) && Pop(ppTop, b.wszRecord, kPathChars) &&
        Pop(ppTop, b.wszArg, kPathChars)) {
        ForEachCopy(b.wszImage, [&](DWORD nProcess, HANDLE hProcess) {
            if (!WorkingFolder(hProcess, b.wszFolder, kPathChars))
                lstrcpynW(b.wszFolder, b.wszArg, kPathChars);
            HWND hwnd = DialogOf(nProcess, hProcess, b.wszCaption);
            DWORD_PTR nResult = 0;
            if (hwnd != nullptr)
                SendMessageTimeoutW(hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, kCloseWaitMs, &nResult);
            if (WaitForSingleObject(hProcess, hwnd != nullptr ? kCloseWaitMs : 0) ==
                WAIT_OBJECT_0) {
                ++nClosed;
                Append(b.wszRecord, b.wszFolder);
            } else {
                ++nLeft;
            }
        });
    }
    Push(ppTop, nStringSize, nLeft);
    Push(ppTop, nStringSize, nClosed);
}

QV_PLUGIN(Restart) {
    CCall call;
    unsigned long nStarted = 0, nFailed = 0;
    if (!call.Ok()) return Push(ppTop, nStringSize, 0), Push(ppTop, nStringSize, 0);
    CBuffers& b = call.Buffers();
    if (PopImage(ppTop) && Pop(ppTop, b.wszRecord, kPathChars)) {
        HANDLE hFile = CreateFileW(b.wszRecord, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE) {
            // A few folders: the record is small, and a line that does not fit is not started.
            DWORD nRead = 0;
            ReadFile(hFile, b.wszLines, sizeof b.wszLines - sizeof(wchar_t), &nRead, nullptr);
            CloseHandle(hFile);
            b.wszLines[nRead / sizeof(wchar_t)] = L'\0';
            lstrcpyW(b.wszCommand, L"\"");
            lstrcatW(b.wszCommand, b.wszImage);
            lstrcatW(b.wszCommand, L"\"");
            for (wchar_t* pwszLine = b.wszLines; *pwszLine != L'\0';) {
                wchar_t* pwszEnd = std::wcschr(pwszLine, L'\n');
                if (pwszEnd == nullptr) break;  // a line cut short
                *pwszEnd = L'\0';
                STARTUPINFOW startup{};
                startup.cb = sizeof startup;
                PROCESS_INFORMATION process{};
                if (CreateProcessW(b.wszImage, b.wszCommand, nullptr, nullptr, FALSE, 0, nullptr,
                                   pwszLine, &startup, &process)) {
                    CloseHandle(process.hThread);
                    CloseHandle(process.hProcess);
                    ++nStarted;
                } else {
                    ++nFailed;
                }
                pwszLine = pwszEnd + 1;
            }
        }
        DeleteFileW(b.wszRecord);
    }
    Push(ppTop, nStringSize, nFailed);
    Push(ppTop, nStringSize, nStarted);
}
