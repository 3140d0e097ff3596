#include "harness/fakeplatform.h"

#include <algorithm>
#include <cstring>

#include "base/icmplib.h"
#include "framework/backend.h"
#include "framework/wnd.h"

namespace {

// What the fake's library handle points at.
struct CFakeModule {
} g_fakeIcmpModule;

// The fake the ICMP entry points act on.
CFakePlatform* g_pActiveFake = nullptr;
// The one handle the fake hands out; anything else does not close.
char g_fakeIcmpHandle;
constexpr DWORD kTimedOut = 11010;
constexpr DWORD kInvalidHandle = 6;

CString Dotted(IPAddr address) {
    unsigned char bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

HANDLE WINAPI FakeIcmpCreateFile() {
    CFakePlatform* pFake = g_pActiveFake;
    if (pFake == nullptr) return INVALID_HANDLE_VALUE;
    pFake->m_events.emplace_back("IcmpCreateFile");
    if (pFake->m_bIcmpCreateFails) return INVALID_HANDLE_VALUE;
    ++pFake->m_nIcmpHandlesOpen;
    return &g_fakeIcmpHandle;
}

BOOL WINAPI FakeIcmpCloseHandle(HANDLE hIcmp) {
    CFakePlatform* pFake = g_pActiveFake;
    if (pFake == nullptr) return FALSE;
    pFake->m_events.emplace_back("IcmpCloseHandle");
    if (hIcmp != &g_fakeIcmpHandle || pFake->m_nIcmpHandlesOpen == 0) return FALSE;
    // Gone even when closing reports failure: the caller cannot do more about it.
    --pFake->m_nIcmpHandlesOpen;
    return pFake->m_bIcmpCloseFails ? FALSE : TRUE;
}

// One request: recorded, answered as scripted into the reply buffer; the number of answers.
DWORD Answer(const char* pszEntry, HANDLE hIcmp, IPAddr destination, void* requestData,
             WORD requestSize, IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
             DWORD replySize, DWORD timeout) {
    CFakePlatform* pFake = g_pActiveFake;
    if (pFake == nullptr) return 0;
    const CString strDestination = Dotted(destination);
    pFake->m_events.push_back(pszEntry + (" " + strDestination));
    CFakePlatform::EchoRequest request{
        strDestination, requestOptions != nullptr ? requestOptions->Ttl : BYTE{0},
        CString(static_cast<const char*>(requestData), requestData != nullptr ? requestSize : 0),
        replySize, timeout};
    pFake->m_echoRequests.push_back(request);
    if (pFake->m_onEcho) pFake->m_onEcho(request);
    if (hIcmp != &g_fakeIcmpHandle || pFake->m_bEchoLeavesBufferUntouched) return 0;
    if (replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY)) return 0;

    const auto it = pFake->m_echoAnswers.find(strDestination);
    ICMP_ECHO_REPLY record{};
    record.Address = destination;
    record.Status = it == pFake->m_echoAnswers.end() ? kTimedOut : it->second.dwStatus;
    if (it != pFake->m_echoAnswers.end()) {
        record.RoundTripTime = it->second.dwRoundTripMs;
        if (record.Status == 0) record.DataSize = requestSize;
    }
    std::memcpy(replyBuffer, &record, sizeof record);
    return it == pFake->m_echoAnswers.end() ? 0 : 1;
}

DWORD WINAPI FakeIcmpSendEcho(HANDLE hIcmp, IPAddr destination, void* requestData, WORD requestSize,
                              IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                              DWORD replySize, DWORD timeout) {
    return Answer("IcmpSendEcho", hIcmp, destination, requestData, requestSize, requestOptions,
                  replyBuffer, replySize, timeout);
}

// As the system does: under way at once, the answer in the buffer with its count in the
// record's Reserved field by the time the event is signalled, which here is before returning.
DWORD WINAPI FakeIcmpSendEcho2(HANDLE hIcmp, HANDLE hEvent, void* /*pfnApcRoutine*/,
                               void* /*pApcContext*/, IPAddr destination, void* requestData,
                               WORD requestSize, IP_OPTION_INFORMATION* requestOptions,
                               void* replyBuffer, DWORD replySize, DWORD timeout) {
    CFakePlatform* pFake = g_pActiveFake;
    if (pFake == nullptr) return 0;
    if (hIcmp != &g_fakeIcmpHandle || hEvent == nullptr) {
        pFake->m_dwLastError = kInvalidHandle;
        return 0;
    }
    const DWORD dwReplies = Answer("IcmpSendEcho2", hIcmp, destination, requestData, requestSize,
                                   requestOptions, replyBuffer, replySize, timeout);
    if (!pFake->m_bEchoLeavesBufferUntouched && replyBuffer != nullptr &&
        replySize >= sizeof(ICMP_ECHO_REPLY))
        static_cast<ICMP_ECHO_REPLY*>(replyBuffer)->Reserved = static_cast<WORD>(dwReplies);
    pFake->m_dwLastError = ERROR_IO_PENDING;
    AfxSetEvent(hEvent);
    return 0;
}

DWORD WINAPI FakeIcmpParseReplies(void* replyBuffer, DWORD replySize) {
    CFakePlatform* pFake = g_pActiveFake;
    if (pFake == nullptr || replyBuffer == nullptr || replySize < sizeof(ICMP_ECHO_REPLY)) return 0;
    ++pFake->m_nRepliesParsed;
    auto* pRecord = static_cast<ICMP_ECHO_REPLY*>(replyBuffer);
    const DWORD dwReplies = pRecord->Reserved;
    pRecord->Reserved = 0;
    if (dwReplies == 0) pFake->m_dwLastError = pRecord->Status;
    return dwReplies;
}

}  // namespace

CFakePlatform::CFakePlatform() { g_pActiveFake = this; }

CFakePlatform::~CFakePlatform() {
    if (g_pActiveFake == this) g_pActiveFake = nullptr;
}

int CFakePlatform::EchoCount(const CString& strDestination) const {
    int count = 0;
    for (const auto& request : m_echoRequests) {
        if (request.strDestination == strDestination) ++count;
    }
    return count;
}

CIcmpLibrary CFakePlatform::BoundIcmp() {
    CIcmpLibrary icmp;
    icmp.Bind(*this);
    return icmp;
}

UINT CFakePlatform::TimerPeriod(CWnd& wnd, UINT_PTR id) const {
    auto it = m_timers.find({&wnd, id});
    return it == m_timers.end() ? 0 : it->second;
}

bool CFakePlatform::FireTimer(CWnd& wnd, UINT_PTR id) {
    if (!IsTimerRunning(wnd, id)) return false;
    wnd.SendMessage(WM_TIMER, id);
    return true;
}

HMODULE CFakePlatform::LoadLibrary(const char* name) {
    if (!m_bHasIcmpLibrary || CString(name) != kIcmpLibraryName) return nullptr;
    ++m_nLibrariesLoaded;
    return reinterpret_cast<HMODULE>(&g_fakeIcmpModule);
}

void* CFakePlatform::GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || m_missingEntries.count(name) != 0) return nullptr;
    const CString entry = name;
    if (entry == kIcmpCreateFileName) return reinterpret_cast<void*>(&FakeIcmpCreateFile);
    if (entry == kIcmpCloseHandleName) return reinterpret_cast<void*>(&FakeIcmpCloseHandle);
    if (entry == kIcmpSendEchoName) return reinterpret_cast<void*>(&FakeIcmpSendEcho);
    if (entry == kIcmpSendEcho2Name) return reinterpret_cast<void*>(&FakeIcmpSendEcho2);
    if (entry == kIcmpParseRepliesName) return reinterpret_cast<void*>(&FakeIcmpParseReplies);
    return nullptr;
}

void CFakePlatform::FreeLibrary(HMODULE module) {
    if (module != nullptr) ++m_nLibrariesFreed;
}

std::optional<std::uint32_t> CFakePlatform::GetHostByName(const CString& name) {
    auto it = m_hosts.find(name);
    if (it == m_hosts.end()) return {};
    return it->second;
}

void CFakePlatform::SetTimer(CWnd& wnd, UINT_PTR id, UINT elapseMs) {
    m_timers[{&wnd, id}] = elapseMs;
}

void CFakePlatform::KillTimer(CWnd& wnd, UINT_PTR id) { m_timers.erase({&wnd, id}); }

BOOL CFakePlatform::ShellNotifyIcon(DWORD message, const CNotifyIconData& data) {
    m_trayCalls.push_back({message, data.uID, data.uFlags, data.uCallbackMessage,
                           data.hIcon != nullptr ? FakeIconOf(data.hIcon)->nResourceId : 0,
                           data.szTip});
    return TRUE;
}

HICON CFakePlatform::LoadIcon(UINT resourceId, int cx, int cy) {
    ++m_nLiveIcons;
    return reinterpret_cast<HICON>(new CIconRes{resourceId, cx, cy});
}

void CFakePlatform::DestroyIcon(HICON icon) {
    if (icon == nullptr) return;
    --m_nLiveIcons;
    delete FakeIconOf(icon);
}

BOOL CFakePlatform::PlaySound(const char* name, DWORD flags) {
    m_sounds.emplace_back(name);
    m_soundFlags.push_back(flags);
    m_events.push_back(CString("PlaySound ") + name);
    return TRUE;
}

int CFakePlatform::MessageBox(CWnd* owner, const CString& text, const CString& caption, UINT type) {
    m_boxes.push_back({owner, text, caption, type});
    if (m_onBox) m_onBox(m_boxes.back());
    return IDOK;
}

namespace {

// An open fake file: reads from, or writes into, the platform's map.
class CFakeFile : public CPlatformFile {
public:
    CFakeFile(CFakePlatform& platform, CString path, bool bWrite)
        : m_platform(platform), m_path(std::move(path)), m_bWrite(bWrite) {
        ++m_platform.m_nFilesOpen;
        m_platform.m_openPaths.insert(m_path);
    }
    ~CFakeFile() override { Close(); }

    int Read(void* buffer, std::size_t count, std::size_t& read) override {
        read = 0;
        if (m_platform.m_nReadError != 0) return m_platform.m_nReadError;
        const std::string& data = m_platform.m_files[m_path];
        read = std::min(count, data.size() - std::min(data.size(), m_pos));
        std::memcpy(buffer, data.data() + m_pos, read);
        m_pos += read;
        return 0;
    }
    int Write(const void* buffer, std::size_t count) override {
        std::string& data = m_platform.m_files[m_path];
        std::size_t accepted = count;
        if (m_platform.m_nWriteFailAfter >= 0) {
            const std::size_t room =
                static_cast<std::size_t>(m_platform.m_nWriteFailAfter) -
                std::min(data.size(), static_cast<std::size_t>(m_platform.m_nWriteFailAfter));
            accepted = std::min(count, room);
        }
        data.append(static_cast<const char*>(buffer), accepted);
        return accepted < count ? m_platform.m_nWriteError : 0;
    }
    int GetLength(std::uint64_t& length) override {
        length = m_platform.m_files[m_path].size();
        return 0;
    }
    int Flush() override { return m_platform.m_nFlushError; }
    int Close() override {
        if (m_bClosed) return 0;
        m_bClosed = true;
        --m_platform.m_nFilesOpen;
        m_platform.m_openPaths.erase(m_platform.m_openPaths.find(m_path));
        return m_bWrite ? m_platform.m_nCloseError : 0;
    }

private:
    CFakePlatform& m_platform;
    CString m_path;
    bool m_bWrite;
    bool m_bClosed = false;
    std::size_t m_pos = 0;
};

}  // namespace

CString CFakePlatform::FullPath(const CString& path) const {
    return !path.empty() && path.front() == '/' ? path : m_strCwd + "/" + path;
}

std::unique_ptr<CPlatformFile> CFakePlatform::OpenFile(const CString& path, FileMode mode,
                                                       int& error) {
    // Opening follows links, as the system's open does.
    CString full;
    if (const int resolveError = ResolveSavePath(path, full)) {
        error = resolveError;
        return nullptr;
    }
    if (mode == FileMode::Read) {
        if (m_bFailOpenRead || m_files.count(full) == 0) {
            error = CFakeError::kNotFound;
            return nullptr;
        }
        if (m_nOpenReadError != 0) {
            error = m_nOpenReadError;
            return nullptr;
        }
        return std::make_unique<CFakeFile>(*this, full, false);
    }
    m_files[full].clear();
    return std::make_unique<CFakeFile>(*this, full, true);
}

std::unique_ptr<CPlatformFile> CFakePlatform::CreateTempFile(const CString& pathPrefix,
                                                             CString& path, int& error) {
    if (m_bFailCreateTemp) {
        error = m_nCreateTempError;
        return nullptr;
    }
    for (int n = 0;; ++n) {
        path = pathPrefix + "tmp" + std::to_string(n);
        if (m_files.count(FullPath(path)) == 0) break;
    }
    m_files[FullPath(path)].clear();
    return std::make_unique<CFakeFile>(*this, FullPath(path), true);
}

int CFakePlatform::ResolveSavePath(const CString& path, CString& target) {
    target = FullPath(path);
    for (int hops = 0;; ++hops) {
        const auto it = m_links.find(target);
        if (it == m_links.end()) return 0;
        if (hops == 40) return CFakeError::kLoop;
        const CString& text = it->second;
        target = !text.empty() && text.front() == '/'
                     ? text
                     : target.substr(0, target.rfind('/')) + "/" + text;
    }
}

int CFakePlatform::ReplaceFile(const CString& from, const CString& to) {
    m_replaceCalls.emplace_back(FullPath(from), FullPath(to));
    if (m_nReplaceError != 0) return m_nReplaceError;
    if (m_openPaths.count(FullPath(from)) != 0 || m_openPaths.count(FullPath(to)) != 0)
        return CFakeError::kAccessDenied;
    auto it = m_files.find(FullPath(from));
    if (it == m_files.end()) return 2;
    m_files[FullPath(to)] = std::move(it->second);
    m_files.erase(FullPath(from));
    // As a rename does, a link at to is replaced, not followed.
    m_links.erase(FullPath(to));
    return 0;
}

int CFakePlatform::DeleteFile(const CString& path) {
    if (m_openPaths.count(FullPath(path)) != 0) return CFakeError::kAccessDenied;
    return m_files.erase(FullPath(path)) != 0 ? 0 : 2;
}

InstanceClaim CFakePlatform::ClaimInstance(const CString& strListPath,
                                           std::function<void()> onShowRequest) {
    m_instanceClaims.push_back(strListPath);
    if (m_bInstanceHeldElsewhere) {
        ++m_nShowRequestsSent;
        return m_bHolderAnswers ? InstanceClaim::Handed : InstanceClaim::Failed;
    }
    m_onShowRequest = std::move(onShowRequest);
    return InstanceClaim::Held;
}
