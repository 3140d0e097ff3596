// qvholdfile: holds a file open with no sharing, as another program may (a backup tool, an
// editor), so that nobody else can open, replace or delete it meanwhile.
//
//   qvholdfile FILE MARKER
//     opens FILE with no sharing, prints "held" and waits until MARKER exists (at most
//     120 s), then closes it. Exit code 0; 2 with a one-line message when FILE cannot be
//     opened.

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qvholdfile FILE MARKER\n");
        return 2;
    }
    HANDLE hFile = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "qvholdfile: cannot open %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (int i = 0; i < 120 * 20 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    CloseHandle(hFile);
    return 0;
}
