#pragma once
// The system's own DLLs, from the system directory only. A program copied to Downloads sits
// beside whatever else is there: a DLL of a system DLL's name beside it, in the working
// directory or on the PATH must never be loaded in its place. Only the DLLs every Windows
// keeps in KnownDLLs (kernel32, user32, shell32, msvcrt) and comctl32, which the manifest
// takes from the side-by-side store, are imported; the others are loaded here.

#include "base/wintypes.h"

// Narrows the search of every later load to the system directory where the system can
// (SetDefaultDllDirectories; Windows 7 has it only with its updates), and otherwise at least
// takes the working directory out. First thing in the program.
void Win32RestrictLibrarySearch();

// The system DLL of that name (no directory), from the system directory, its own imports
// too; null when it cannot be loaded from there.
HMODULE Win32LoadSystemLibrary(const char* pszName);
// The same by the system directory's full path: the way where the search flags are missing,
// and one to test on every system.
HMODULE Win32LoadSystemLibraryByPath(const char* pszName);

// An entry point of a loaded system DLL as its own function type; null when missing.
template <typename PFN>
bool Win32BindEntry(HMODULE hModule, const char* pszName, PFN& pfn) {
    pfn = hModule != nullptr
              ? reinterpret_cast<PFN>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName)))
              : nullptr;
    return pfn != nullptr;
}
