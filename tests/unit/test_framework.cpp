// The window layer's own rules: how it reads numbers and how its list box orders and finds.

#include <doctest/doctest.h>

#include <climits>
#include <vector>

#include "base/strutil.h"
#include "framework/afxres.h"
#include "framework/dialog.h"
#include "framework/listbox.h"
#include "framework/winapp.h"

TEST_CASE("numbers are read as the framework reads them") {
    struct CRow {
        const char* pszName;
        const char* pszText;
        bool bOk;
        int nValue;
    };
    const CRow rows[] = {
        {"plain", "30", true, 30},
        {"blanks and tabs around", " \t 45\t ", true, 45},
        {"signs", "-7", true, -7},
        {"plus", "+8", true, 8},
        {"saturates high", "99999999999999999999", true, INT_MAX},
        {"saturates low", "-99999999999999999999", true, INT_MIN},
        {"int min exactly", "-2147483648", true, INT_MIN},
        {"empty", "", false, 0},
        {"blanks only", "   ", false, 0},
        {"letters", "abc", false, 0},
        {"trailing letters", "12s", false, 0},
        {"sign alone", "-", false, 0},
        {"space inside", "1 2", false, 0},
        {"newline is not a blank", "5\n", false, 0},
        {"decimal point", "3.5", false, 0},
    };
    for (const CRow& row : rows) {
        CAPTURE(row.pszName);
        int parsed = -12345;
        CHECK(AfxParseInt(row.pszText, parsed) == row.bOk);
        if (row.bOk) CHECK(parsed == row.nValue);
    }
}

TEST_CASE("messages take their inserts from the string table, each once") {
    CHECK(FormatString(AfxLoadString(AFX_IDP_PARSE_INT_RANGE), {"3", "3600"}) ==
          "Please enter an integer between 3 and 3600.");
    // A file name holding a placeholder or a percent stays as it is.
    CHECK(FormatString(AfxLoadString(AFX_IDP_FILE_NOT_FOUND), {"/tmp/%2 and 100%"}) ==
          "/tmp/%2 and 100% was not found.");
    CHECK(FormatString("%1%", {"a"}) == "a%");
    CHECK(FormatString("%3 %1", {"a"}) == "%3 a");
    CHECK(AfxLoadString(0).empty());
}

TEST_CASE("the list box keeps its entries in case-insensitive order") {
    CListBox list;
    for (const char* entry : {"10.0.0.2", "b.host", "10.0.0.12", "A.host", "10.0.0.1"})
        list.AddString(entry);
    std::vector<CString> order;
    for (int i = 0; i < list.GetCount(); ++i) {
        CString text;
        list.GetText(i, text);
        order.push_back(text);
    }
    CHECK(order == std::vector<CString>{"10.0.0.1", "10.0.0.12", "10.0.0.2", "A.host", "b.host"});
    // An entry goes in after the ones equal to it.
    CHECK(list.AddString("a.HOST") == 4);
}

TEST_CASE("the list box finds whole entries only") {
    CListBox list;
    list.AddString("10.0.0.12");
    list.AddString("Host.Example");
    CHECK(list.FindStringExact(-1, "10.0.0.1") == LB_ERR);
    CHECK(list.FindStringExact(-1, "10.0.0.12") == 0);
    CHECK(list.FindStringExact(-1, "host.example") == 1);
    CHECK(list.FindStringExact(-1, "Host.Exampl") == LB_ERR);
}

TEST_CASE("the list box reports errors") {
    CListBox list;
    CString text = "kept";
    CHECK(list.GetCurSel() == LB_ERR);
    CHECK(list.GetText(0, text) == LB_ERR);
    CHECK(text == "kept");
    CHECK(list.DeleteString(0) == LB_ERR);
    CHECK(list.FindStringExact(-1, "x") == LB_ERR);
    list.AddString("x");
    CHECK(list.DeleteString(1) == LB_ERR);
    CHECK(list.DeleteString(0) == 0);
}
