#pragma once
// The program's version record, in one place: the About box, the application's version and
// (later) the Windows version resource read from here.

#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 0
#define QV_VERSION_PATCH 1
#define QV_VERSION_BUILD 0

inline constexpr const char kFileVersion[] = "1, 0, 1, 0";
inline constexpr const char kProductVersion[] = "1, 0, 1, 0";
inline constexpr const char kVersionDotted[] = "1.0.1.0";
inline constexpr const char kComments[] =
    "Quorvane: Pings a known server list to keep network connections up.";
inline constexpr const char kFileDescription[] = "Quorvane MFC Application";
inline constexpr const char kInternalName[] = "QUORVANE";
inline constexpr const char kOriginalFilename[] = "QUORVANE.EXE";
inline constexpr const char kProductName[] = "QUORVANE Application";
inline constexpr const char kCompanyName[] = "Harrowbecks Software, Inc.";
inline constexpr const char kLegalCopyright[] = "Copyright (C) 2026 Harrowbecks Software, Inc.";
inline constexpr const char kLegalTrademarks[] = "";
