#pragma once
// The handful of system types, messages and constants the program's logic is written in.
// On Windows they come from the system headers; elsewhere they are defined here with the
// same values, so the logic reads the same on both platforms.

#include <cstdint>
#include <string>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Sockets before windows.h, which would bring the old sockets header otherwise; the rest
// after it, as they build on it.
// clang-format off
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <mmsystem.h>
#include <shellapi.h>
// clang-format on

// The system's names that are macros for their ANSI or wide variant would rename the
// members of our own classes (CWnd::SendMessage to SendMessageA, and so on) in whichever
// files see them. Settled here, once, for every file: the names are ours; the system
// functions are called by their ANSI names where they are meant.
#undef DeleteFile
#undef FormatMessage
#undef GetCurrentDirectory
#undef GetWindowText
#undef LoadIcon
#undef LoadLibrary
#undef MessageBox
#undef PlaySound
#undef ReplaceFile
#undef SendMessage
#undef SetWindowText

// Single-byte ANSI text: every byte is a character.
inline bool AfxIsCharStart(char) { return true; }
#else

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Window messages the program handles or sends.
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUERYDRAGICON = 0x0037;
constexpr UINT WM_NEXTDLGCTL = 0x0028;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_APP = 0x8000;

// Message box types and results.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONHAND = 0x0010;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;
constexpr UINT MB_ICONMASK = 0x00F0;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;
constexpr int SW_RESTORE = 9;  // shown, and no longer minimised

constexpr int LB_ERR = -1;

// Notification area.
constexpr DWORD NIM_ADD = 0;
constexpr DWORD NIM_MODIFY = 1;
constexpr DWORD NIM_DELETE = 2;
constexpr UINT NIF_MESSAGE = 0x1;
constexpr UINT NIF_ICON = 0x2;
constexpr UINT NIF_TIP = 0x4;

// Sound.
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_RESOURCE = 0x00040004;

// The last error of an entry point: a request that goes on after the call returned.
constexpr DWORD ERROR_IO_PENDING = 997;

// The calling convention of system entry points; the only one there is here.
#define WINAPI

// UTF-8 text: a character begins at every byte that does not continue one.
inline bool AfxIsCharStart(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }
#endif

// An icon handle: which of the program's icon resources, at which size. The platform hands
// them out and takes them back; the window layer turns one into a picture.
struct CIconRes {
    UINT nResourceId;
    int cx;
    int cy;
};
#ifndef _WIN32
using HICON = CIconRes*;
#endif

// The byte-character string the program's logic uses.
using CString = std::string;
