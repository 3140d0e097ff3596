#pragma once
// The program's version record, in one place: the About box (dialogs.def), the application's
// version and the Windows version resource read from here. Macros, as the resource compiler reads
// them too.

#define QV_VERSION_MAJOR 1
#define QV_VERSION_MINOR 0
#define QV_VERSION_PATCH 1
#define QV_VERSION_BUILD 0

// The version as the About box shows it, from the numbers above.
#define QV_STRINGIZE_(x) #x
#define QV_STRINGIZE(x) QV_STRINGIZE_(x)
#define QV_VERSION_SHORT           \
    QV_STRINGIZE(QV_VERSION_MAJOR) \
    "." QV_STRINGIZE(QV_VERSION_MINOR) "." QV_STRINGIZE(QV_VERSION_PATCH)

#define QV_FILE_VERSION "1, 0, 1, 0"
#define QV_PRODUCT_VERSION "1, 0, 1, 0"
#define QV_VERSION_DOTTED "1.0.1.0"
#define QV_COMMENTS "Quorvane: Pings a known server list to keep network connections up."
#define QV_FILE_DESCRIPTION "Quorvane MFC Application"
#define QV_INTERNAL_NAME "QUORVANE"
#define QV_ORIGINAL_FILENAME "QUORVANE.EXE"
#define QV_PRODUCT_NAME "QUORVANE Application"
#define QV_COMPANY_NAME "Harrowbecks Software, Inc."
#define QV_LEGAL_COPYRIGHT "Copyright (C) 2026 Harrowbecks Software, Inc."
#define QV_LEGAL_TRADEMARKS ""

#ifndef RC_INVOKED
inline constexpr const char kVersionDotted[] = QV_VERSION_DOTTED;
#endif
