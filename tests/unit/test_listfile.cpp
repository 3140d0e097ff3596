// The list file format: what each kind of file reads as, and that what we write reads back.

#include <doctest/doctest.h>

#include <climits>
#include <optional>
#include <vector>

#include "logic/listfile.h"

namespace {

using Servers = std::vector<CString>;
using D = std::optional<int>;
using F = std::optional<BOOL>;

}  // namespace

TEST_CASE("each kind of list file reads as the program reads it") {
    struct CRow {
        const char* pszName;
        CString file;
        D delay;
        F cycle;
        F sound;
        Servers servers;
    };
    const F on = TRUE, off = FALSE, none;
    CString withNul = "8\r\n0\r\n0\r\n10.0.0.1#junk\r\n10.0.0.2\r\n";
    withNul[withNul.find('#')] = '\0';
    const CRow rows[] = {
        {"as written",
         "30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n",
         D(30),
         off,
         on,
         {"10.0.0.1", "10.0.0.2"}},
        {"delay line alone", "45\r\n", D(45), none, none, {}},
        {"no line end at all", "45", D(45), none, none, {}},
        {"three lines, no servers", "7\r\n1\r\n0\r\n", D(7), on, off, {}},
        // Leading white space, line ends included, is skipped by the number: line 2 is then
        // both the delay and the cycle flag.
        {"blank first line", "\r\n1\r\n1\r\n10.0.0.3\r\n", D(1), on, on, {"10.0.0.3"}},
        {"letters first", "abc\r\n1\r\n0\r\n10.0.0.4\r\n", D(), on, off, {"10.0.0.4"}},
        {"sign and garbage", "-12x\r\n0\r\n0\r\n", D(-12), off, off, {}},
        {"huge delay saturates", "99999999999999\r\n0\r\n0\r\n", D(INT_MAX), off, off, {}},
        // Only the character 1 counts as on.
        {"flags other than 1", "5\r\n2\r\ny\r\n", D(5), off, off, {}},
        {"servers cleaned",
         "5\r\n0\r\n0\r\n  10.0.0.9 \t\r\n\r\nhost.example\r\n255.255.255.255\r\n"
         "167772161\r\n0x7f.1\r\n1.2.3.4 x\r\n",
         D(5),
         off,
         off,
         {"10.0.0.9", "167772161", "0x7f.1"}},
        // Files edited on Linux: every server survives.
        {"LF only",
         "8\n1\n1\n10.0.0.1\n10.0.0.2\n10.0.0.3",
         D(8),
         on,
         on,
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"}},
        {"mixed line ends",
         "8\r\n1\n0\r\n10.0.0.1\n\n10.0.0.2\r\n",
         D(8),
         on,
         off,
         {"10.0.0.1", "10.0.0.2"}},
        {"NUL inside a line", withNul, D(8), off, off, {"10.0.0.2"}},
        {"ends inside a server line",
         "8\r\n0\r\n0\r\n10.0.0.1\r\n10.0",
         D(8),
         off,
         off,
         {"10.0.0.1", "10.0"}},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        const CListFileData data = ParseListFile(row.file.data(), row.file.size());
        CHECK(data.nDelay == row.delay);
        CHECK(data.bCycleOnNoContact == row.cycle);
        CHECK(data.bSound == row.sound);
        CHECK(data.servers == row.servers);
    }
}

TEST_CASE("what is written reads back") {
    const Servers servers{"10.0.0.1", "127.0.0.1", "2130706433"};
    const CString text = FormatListFile(-3, TRUE, FALSE, servers);
    const CListFileData data = ParseListFile(text.data(), text.size());
    CHECK(data.nDelay == std::optional<int>(-3));
    CHECK(data.bCycleOnNoContact == std::optional<BOOL>(TRUE));
    CHECK(data.bSound == std::optional<BOOL>(FALSE));
    CHECK(data.servers == servers);
}

TEST_CASE("the written form") {
    CHECK(FormatListFile(30, FALSE, TRUE, {"10.0.0.1", "10.0.0.2"}) ==
          CString("30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n"));
    // An empty list gives exactly three lines; a flag other than 1 is written as 0.
    CHECK(FormatListFile(3600, 2, -1, {}) == CString("3600\r\n0\r\n0\r\n"));
}
