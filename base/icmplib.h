#pragma once
// The ICMP facility's records and entry points, as the program binds them by name at start-up.

#include <cstdint>

#include "base/platform.h"
#include "base/wintypes.h"

#ifdef _WIN32
#include <ipexport.h>
#else
using IPAddr = std::uint32_t;  // IPv4 address in network byte order

struct IP_OPTION_INFORMATION {
    BYTE Ttl;
    BYTE Tos;
    BYTE Flags;
    BYTE OptionsSize;
    BYTE* OptionsData;
};

struct ICMP_ECHO_REPLY {
    IPAddr Address;
    DWORD Status;         // 0 on success
    DWORD RoundTripTime;  // milliseconds
    WORD DataSize;
    WORD Reserved;
    void* Data;
    IP_OPTION_INFORMATION Options;
};

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
#endif

// System entry points: with the system's calling convention, or a call through them would
// corrupt the stack (stdcall on 32-bit Windows).
using PFN_IcmpCreateFile = HANDLE(WINAPI*)();
using PFN_IcmpCloseHandle = BOOL(WINAPI*)(HANDLE hIcmp);
using PFN_IcmpSendEcho = DWORD(WINAPI*)(HANDLE hIcmp, IPAddr destination, void* requestData,
                                        WORD requestSize, IP_OPTION_INFORMATION* requestOptions,
                                        void* replyBuffer, DWORD replySize, DWORD timeout);
// The same request that does not wait: with an event, it returns at once and the event is
// signalled once the answer is in the reply buffer (or none came in time); IcmpParseReplies
// then counts the answers. The request's data is taken at the call; the reply buffer must
// stay until the event is signalled. The routine and its context are never used (null).
using PFN_IcmpSendEcho2 = DWORD(WINAPI*)(HANDLE hIcmp, HANDLE hEvent, void* pfnApcRoutine,
                                         void* pApcContext, IPAddr destination, void* requestData,
                                         WORD requestSize, IP_OPTION_INFORMATION* requestOptions,
                                         void* replyBuffer, DWORD replySize, DWORD timeout);
using PFN_IcmpParseReplies = DWORD(WINAPI*)(void* replyBuffer, DWORD replySize);

// The library and entry point names the program asks for: arrays, so each has one address in
// the whole program and Bind's answer can be compared with them.
inline constexpr char kIcmpLibraryName[] = "ICMP.DLL";
inline constexpr char kIcmpCreateFileName[] = "IcmpCreateFile";
inline constexpr char kIcmpCloseHandleName[] = "IcmpCloseHandle";
inline constexpr char kIcmpSendEchoName[] = "IcmpSendEcho";
inline constexpr char kIcmpSendEcho2Name[] = "IcmpSendEcho2";
inline constexpr char kIcmpParseRepliesName[] = "IcmpParseReplies";

// The bound library: its module and the three entry points, each null until bound. Nothing
// may be probed unless all three are set. Two more are bound where the library has them.
struct CIcmpLibrary {
    HMODULE m_hIcmpLib = nullptr;
    PFN_IcmpCreateFile m_pfnIcmpCreateFile = nullptr;
    PFN_IcmpCloseHandle m_pfnIcmpCloseHandle = nullptr;
    PFN_IcmpSendEcho m_pfnIcmpSendEcho = nullptr;
    // The request that does not wait, where the library has it (both, or neither).
    PFN_IcmpSendEcho2 m_pfnIcmpSendEcho2 = nullptr;
    PFN_IcmpParseReplies m_pfnIcmpParseReplies = nullptr;

    bool IsBound() const {
        return m_pfnIcmpCreateFile != nullptr && m_pfnIcmpCloseHandle != nullptr &&
               m_pfnIcmpSendEcho != nullptr;
    }

    // Loads the library and binds the entry points in order. Null when all are bound;
    // otherwise the name of the first piece missing (kIcmpLibraryName for the library).
    const char* Bind(CPlatform& platform) {
        m_hIcmpLib = platform.LoadLibrary(kIcmpLibraryName);
        if (m_hIcmpLib == nullptr) return kIcmpLibraryName;
        if (!BindEntry(platform, kIcmpCreateFileName, m_pfnIcmpCreateFile))
            return kIcmpCreateFileName;
        if (!BindEntry(platform, kIcmpCloseHandleName, m_pfnIcmpCloseHandle))
            return kIcmpCloseHandleName;
        if (!BindEntry(platform, kIcmpSendEchoName, m_pfnIcmpSendEcho)) return kIcmpSendEchoName;
        // A library without them still probes, waiting in IcmpSendEcho.
        if (!BindEntry(platform, kIcmpSendEcho2Name, m_pfnIcmpSendEcho2) ||
            !BindEntry(platform, kIcmpParseRepliesName, m_pfnIcmpParseReplies)) {
            m_pfnIcmpSendEcho2 = nullptr;
            m_pfnIcmpParseReplies = nullptr;
        }
        return nullptr;
    }

private:
    template <typename PFN>
    bool BindEntry(CPlatform& platform, const char* pszName, PFN& pfn) {
        pfn = reinterpret_cast<PFN>(platform.GetProcAddress(m_hIcmpLib, pszName));
        return pfn != nullptr;
    }
};
