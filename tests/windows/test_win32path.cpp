// The conversions between the program's UTF-8 and the system's UTF-16, and the spelling of
// long paths: pure string work, run under Wine with the rest of the Windows tests.

#include <doctest/doctest.h>

#include "platform/windows/win32path.h"

namespace {

const CString kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
const CString kEmoji = "\xF0\x9F\x98\x80";                         // U+1F600

}  // namespace

TEST_CASE("UTF-8 and UTF-16: every name the system can hold goes there and back") {
    CHECK(Utf8ToWide("C:\\Quorvane.Lst") == L"C:\\Quorvane.Lst");
    CHECK(Utf8ToWide(kJapanese) == L"\u65E5\u672C\u8A9E");
    CHECK(Utf8ToWide("\xCE\x95\xCE\xBB") == L"\u0395\u03BB");
    // Past the first 65536 code points: a surrogate pair.
    CHECK(Utf8ToWide(kEmoji) == std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)});
    for (const CString& text : {CString(), CString("C:\\x"), kJapanese, kEmoji,
                                CString("\xC3\xA9t\xC3\xA9"), CString("\xEF\xBF\xBF")})
        CHECK(WideToUtf8(Utf8ToWide(text)) == text);
    // A lone surrogate is a valid name on the system: it must survive the round trip.
    for (const std::wstring& name : {std::wstring{L'a', wchar_t(0xD800), L'b'},
                                     std::wstring{wchar_t(0xDC00)}, std::wstring{wchar_t(0xD83D)}})
        CHECK(Utf8ToWide(WideToUtf8(name)) == name);
}

TEST_CASE("bytes that start no character become U+FFFD, one each, the rest kept") {
    const std::wstring bad{wchar_t(0xFFFD)};
    CHECK(Utf8ToWide("a\xFF"
                     "b") == L"a" + bad + L"b");
    CHECK(Utf8ToWide("\xE6\x97") == bad + bad);                      // cut short
    CHECK(Utf8ToWide("\xC0\xAF") == bad + bad);                      // overlong "/"
    CHECK(Utf8ToWide("\xE0\x80\xAF") == bad + bad + bad);            // overlong, three bytes
    CHECK(Utf8ToWide("\xF4\x90\x80\x80") == bad + bad + bad + bad);  // past U+10FFFF
}

TEST_CASE("a path gets the long spelling only once it is too long for the short one") {
    CHECK(SystemPath("C:\\Users\\x\\Quorvane.Lst") == L"C:\\Users\\x\\Quorvane.Lst");
    // The drive root joined as is keeps its doubled separator: the system reads it as one.
    CHECK(SystemPath("C:\\\\Quorvane.Lst") == L"C:\\\\Quorvane.Lst");
    const CString folder = "C:\\" + CString(kLongPathFrom - 3, 'a');
    CHECK(SystemPath(folder.substr(0, folder.size() - 1)) ==
          Utf8ToWide(folder.substr(0, folder.size() - 1)));
    CHECK(SystemPath(folder) == L"\\\\?\\" + Utf8ToWide(folder));

    const CString deep = CString(120, 'd');
    const std::wstring wdeep = Utf8ToWide(deep);
    // What the short spelling resolves, the long one must have resolved already.
    CHECK(SystemPath("c:/" + deep + "//" + deep + "\\.\\x\\..\\" + kJapanese + "\\") ==
          L"\\\\?\\c:\\" + wdeep + L"\\" + wdeep + L"\\\u65E5\u672C\u8A9E");
    CHECK(SystemPath("\\\\server\\share\\" + deep + "\\" + deep) ==
          L"\\\\?\\UNC\\server\\share\\" + wdeep + L"\\" + wdeep);
    // Already the system's own spelling, or relative (only the system knows from where).
    for (const CString& path :
         {"\\\\?\\C:\\" + deep + "\\" + deep + "\\.", "\\\\.\\C:\\" + deep + "\\" + deep,
          deep + "\\" + deep + "\\x", "C:" + deep + "\\" + deep, "\\" + deep + "\\" + deep})
        CHECK(SystemPath(path) == Utf8ToWide(path));
}

TEST_CASE("paths the system gives back read without the long prefix") {
    CHECK(ReadablePath(L"\\\\?\\C:\\Users\\\u65E5\u672C\u8A9E") == "C:\\Users\\" + kJapanese);
    CHECK(ReadablePath(L"\\\\?\\UNC\\server\\share\\x") == "\\\\server\\share\\x");
    CHECK(ReadablePath(L"C:\\x") == "C:\\x");
    // A volume name has no drive letter to show instead: kept as the system gave it.
    CHECK(ReadablePath(L"\\\\?\\Volume{1234}\\x") == "\\\\?\\Volume{1234}\\x");
}
