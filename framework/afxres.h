#pragma once
// The identifiers of the framework's own messages. Their texts are in the program's string
// table, beside its own (res/strings.def), so every text the user reads has one home. Macros,
// as the resource compiler reads them too.

#define AFX_IDP_PARSE_INT 0xF110
#define AFX_IDP_PARSE_INT_RANGE 0xF111
#define AFX_IDP_PARSE_STRING_SIZE 0xF112

// File errors, one for each CFileException cause.
#define AFX_IDP_FILE_GENERIC 0xF120
#define AFX_IDP_FILE_NOT_FOUND 0xF121
#define AFX_IDP_FILE_BAD_PATH 0xF122
#define AFX_IDP_FILE_TOO_MANY_OPEN 0xF123
#define AFX_IDP_FILE_ACCESS_DENIED 0xF124
#define AFX_IDP_FILE_INVALID_FILE 0xF125
#define AFX_IDP_FILE_DIR_FULL 0xF126
#define AFX_IDP_FILE_BAD_SEEK 0xF127
#define AFX_IDP_FILE_HARD_IO 0xF128
#define AFX_IDP_FILE_SHARING 0xF129
#define AFX_IDP_FILE_LOCKING 0xF12A
#define AFX_IDP_FILE_DISK_FULL 0xF12B
#define AFX_IDP_FILE_EOF 0xF12C
