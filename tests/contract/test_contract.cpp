// The window layer's contract, one source run on each real backend (Qt without a display,
// Win32 under Wine): data exchange and validation on the native controls with the framework's
// messages, focus and selection (none while hidden), the list control's order and matching,
// the keys a dialog user knows, a modeless dialog hidden by EndDialog and the loop that ends
// with the main window. The recording platform answers the message boxes.

#include <doctest/doctest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "contractdriver.h"
#include "harness/fakeplatform.h"
#include "framework/dialog.h"
#include "framework/listbox.h"
#include "framework/winapp.h"
#include "res/resource.h"
#include "res/resources.h"

namespace {

// The main dialog's template with an exchange like the program's, recording its commands.
class CContractDlg : public CDialog {
public:
    explicit CContractDlg(CPlatform& platform) : CDialog(KeepAliveDialogTemplate(), platform) {}

    CListBox m_lbServers;
    int m_nDelay = 0;
    CString m_strNewServer;
    BOOL m_bCycle = FALSE;
    BOOL m_bSound = FALSE;
    int m_nMaxChars = 50;
    std::vector<int> m_commands;
    bool m_bDestroyOnCancel = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, IDC_SERVER_LIST, m_lbServers);
        DDX_Text(pDX, IDC_DELAY, m_nDelay);
        DDV_MinMaxInt(pDX, m_nDelay, 3, 3600);
        DDX_Text(pDX, IDC_NEW_SERVER, m_strNewServer);
        DDV_MaxChars(pDX, m_strNewServer, m_nMaxChars);
        DDX_Check(pDX, IDC_CYCLE, m_bCycle);
        DDX_Check(pDX, IDC_SOUND, m_bSound);
    }
    BOOL OnCommand(WPARAM wParam, LPARAM /*lParam*/) override {
        m_commands.push_back(static_cast<int>(wParam & 0xFFFF));
        return FALSE;
    }
    void OnCancel() override {
        if (m_bDestroyOnCancel)
            DestroyWindow();
        else
            CDialog::OnCancel();
    }
};

struct CContract {
    CContract() : m_dlg(m_platform) {
        m_platform.m_strAppName = "contract";
        REQUIRE(m_dlg.Create());
        m_dlg.ShowWindow(SW_SHOW);
        m_dlg.SetForegroundWindow();
        PumpEvents();
    }
    CWnd& Item(int id) {
        CWnd* item = m_dlg.GetDlgItem(id);
        REQUIRE(item != nullptr);
        return *item;
    }
    // The one box the last action showed: the framework's, owned by the dialog.
    void CheckBox(const char* pszText) {
        REQUIRE(m_platform.m_boxes.size() == 1);
        const CFakePlatform::Box& box = m_platform.m_boxes.front();
        CHECK(box.strText == pszText);
        CHECK(box.strCaption == "contract");
        CHECK(box.nType == MB_ICONEXCLAMATION);
        CHECK(box.pOwner == &m_dlg);
        m_platform.m_boxes.clear();
    }

    CFakePlatform m_platform;
    CContractDlg m_dlg;
};

}  // namespace

TEST_CASE("the template's controls are on the native dialog, hidden until shown") {
    CFakePlatform platform;
    CContractDlg dlg(platform);
    REQUIRE(dlg.Create());
    CHECK_FALSE(dlg.IsWindowVisible());
    CHECK(dlg.GetWindowText() == "Quorvane by Harrowbecks Software, Inc.");
    for (const CDialogItem& item : KeepAliveDialogTemplate().items) {
        if (item.nID == IDC_STATIC) continue;
        CAPTURE(item.nID);
        REQUIRE(dlg.GetDlgItem(item.nID) != nullptr);
        if (item.kind != CtrlKind::Edit && item.kind != CtrlKind::ListBox)
            CHECK(dlg.GetDlgItem(item.nID)->GetWindowText() == item.pszText);
    }
    CHECK(dlg.GetDlgItem(1007) == nullptr);
    dlg.ShowWindow(SW_SHOW);
    CHECK(dlg.IsWindowVisible());
}

TEST_CASE("data exchange fills the native controls and reads them back") {
    CContract t;
    t.m_dlg.m_nDelay = 45;
    t.m_dlg.m_strNewServer = "10.0.0.9";
    t.m_dlg.m_bSound = TRUE;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    CHECK(NativeText(t.m_dlg, IDC_DELAY) == "45");
    CHECK(NativeText(t.m_dlg, IDC_NEW_SERVER) == "10.0.0.9");
    CHECK(t.m_dlg.GetItemCheck(IDC_SOUND) == 1);
    CHECK(t.m_dlg.GetItemCheck(IDC_CYCLE) == 0);

    // What the user types and ticks is what the members get.
    t.Item(IDC_DELAY).SetWindowText("");
    UserTypes(t.m_dlg, IDC_DELAY, " 120 ");
    t.Item(IDC_NEW_SERVER).SetWindowText("");
    UserTypes(t.m_dlg, IDC_NEW_SERVER, "host.example");
    UserClicks(t.m_dlg, IDC_CYCLE);
    UserClicks(t.m_dlg, IDC_SOUND);
    REQUIRE(t.m_dlg.UpdateData(TRUE));
    CHECK(t.m_platform.m_boxes.empty());
    CHECK(t.m_dlg.m_nDelay == 120);
    CHECK(t.m_dlg.m_strNewServer == "host.example");
    CHECK(t.m_dlg.m_bCycle == TRUE);
    CHECK(t.m_dlg.m_bSound == FALSE);
}

TEST_CASE("the first failing field stops the exchange with its message and gets the focus") {
    CContract t;
    t.m_dlg.m_strNewServer = "old";
    t.m_dlg.m_bCycle = TRUE;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    t.Item(IDC_NEW_SERVER).SetWindowText("new");
    t.m_dlg.SetItemCheck(IDC_CYCLE, 0);

    SUBCASE("not a number") {
        t.Item(IDC_DELAY).SetWindowText("12a");
        CHECK_FALSE(t.m_dlg.UpdateData(TRUE));
        t.CheckBox("Please enter an integer.");
        CHECK(t.m_dlg.m_nDelay == 0);
    }
    SUBCASE("out of range") {
        t.Item(IDC_DELAY).SetWindowText("2");
        CHECK_FALSE(t.m_dlg.UpdateData(TRUE));
        t.CheckBox("Please enter an integer between 3 and 3600.");
        // The number parsed before its range failed.
        CHECK(t.m_dlg.m_nDelay == 2);
    }
    CHECK(NativeFocus(t.m_dlg) == IDC_DELAY);
    CHECK(NativeTextSelectedWhole(t.m_dlg, IDC_DELAY));
    // Later fields were not read.
    CHECK(t.m_dlg.m_strNewServer == "old");
    CHECK(t.m_dlg.m_bCycle == TRUE);
}

TEST_CASE("a text too long is refused with its message, and typing stops at the limit") {
    CContract t;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    t.Item(IDC_DELAY).SetWindowText("30");
    UserTypes(t.m_dlg, IDC_NEW_SERVER, CString(60, 'a'));
    CHECK(NativeText(t.m_dlg, IDC_NEW_SERVER) == CString(50, 'a'));
    CHECK(t.m_dlg.UpdateData(TRUE));

    // A text longer than the limit the exchange asks for is refused.
    t.m_dlg.m_nMaxChars = 20;
    t.Item(IDC_DELAY).SetFocus();
    CHECK_FALSE(t.m_dlg.UpdateData(TRUE));
    t.CheckBox("Please enter no more than 20 characters.");
    CHECK(NativeFocus(t.m_dlg) == IDC_NEW_SERVER);
    CHECK(NativeTextSelectedWhole(t.m_dlg, IDC_NEW_SERVER));
    CHECK(t.m_dlg.m_nDelay == 30);
}

TEST_CASE("focus moves through the dialog manager with the edit's whole text selected") {
    CContract t;
    t.Item(IDC_NEW_SERVER).SetWindowText("10.0.0.1");
    t.m_dlg.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(&t.Item(IDC_NEW_SERVER)), TRUE);
    CHECK(NativeFocus(t.m_dlg) == IDC_NEW_SERVER);
    CHECK(NativeTextSelectedWhole(t.m_dlg, IDC_NEW_SERVER));
    // Typing now replaces the selected text.
    UserTypes(t.m_dlg, IDC_NEW_SERVER, "x");
    CHECK(NativeText(t.m_dlg, IDC_NEW_SERVER) == "x");

    // Tab follows the template's order from the Delay edit on.
    t.Item(IDC_DELAY).SetFocus();
    const int order[] = {IDC_SOUND, IDC_CYCLE, IDC_NEW_SERVER, IDC_ADD, IDC_REMOVE, IDOK};
    for (int id : order) {
        UserKey(t.m_dlg, CKey::Tab);
        CHECK(NativeFocus(t.m_dlg) == id);
    }
}

TEST_CASE("a hidden dialog holds no focus; shown, the control given it has it, text selected") {
    CFakePlatform platform;
    CContractDlg dlg(platform);
    REQUIRE(dlg.Create());
    dlg.m_nDelay = 30;
    REQUIRE(dlg.UpdateData(FALSE));
    PumpEvents();
    // A focused edit's caret would blink all the time the dialog sits hidden.
    CHECK(NativeFocus(dlg) == 0);
    // Given the focus while hidden, the Delay edit has it as soon as the dialog is shown.
    dlg.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(dlg.GetDlgItem(IDC_DELAY)), TRUE);
    PumpEvents();
    CHECK(NativeFocus(dlg) == 0);
    dlg.ShowWindow(SW_SHOW);
    dlg.SetForegroundWindow();
    PumpEvents();
    CHECK(NativeFocus(dlg) == IDC_DELAY);
    CHECK(NativeTextSelectedWhole(dlg, IDC_DELAY));

    // OK hides it, and the focus goes with it; so after a modal box over it.
    UserTypes(dlg, IDC_NEW_SERVER, "x");
    UserKey(dlg, CKey::Enter);
    REQUIRE_FALSE(dlg.IsWindowVisible());
    PumpEvents();
    CHECK(NativeFocus(dlg) == 0);
    CDialog about(AboutBoxTemplate(), platform);
    RunInLoop([&about] { UserKey(about, CKey::Escape); });
    CHECK(about.DoModal(&dlg) == IDCANCEL);
    PumpEvents();
    CHECK(NativeFocus(dlg) == 0);

    // Opened again as the tray does: shown, then the Delay edit focused.
    dlg.ShowWindow(SW_SHOW);
    dlg.SetForegroundWindow();
    dlg.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(dlg.GetDlgItem(IDC_DELAY)), TRUE);
    PumpEvents();
    CHECK(NativeFocus(dlg) == IDC_DELAY);
    CHECK(NativeTextSelectedWhole(dlg, IDC_DELAY));
}

TEST_CASE("the keyboard alone reaches every control, and presses every button and box") {
    CContract t;
    t.Item(IDC_DELAY).SetFocus();
    // Tab goes round every control in the template's order, back to the Delay edit; Space
    // on a box checks it, on a button is its command.
    const int order[] = {IDC_SOUND, IDC_CYCLE, IDC_NEW_SERVER,  IDC_ADD,  IDC_REMOVE,
                         IDOK,      IDC_ABOUT, IDC_SERVER_LIST, IDCANCEL, IDC_DELAY};
    for (int id : order) {
        UserKey(t.m_dlg, CKey::Tab);
        CAPTURE(id);
        REQUIRE(NativeFocus(t.m_dlg) == id);
        if (id == IDC_SOUND || id == IDC_CYCLE) {
            const int nBefore = t.m_dlg.GetItemCheck(id);
            UserKey(t.m_dlg, CKey::Space);
            CHECK(t.m_dlg.GetItemCheck(id) == 1 - nBefore);
        } else if (id == IDC_ADD || id == IDC_REMOVE || id == IDC_ABOUT) {
            // Its command comes once. (A box's click is a command on Windows too, not on
            // Linux: those are not counted.)
            UserKey(t.m_dlg, CKey::Space);
            CHECK(std::count(t.m_dlg.m_commands.begin(), t.m_dlg.m_commands.end(), id) == 1);
            // The command leaves the focus where it was.
            CHECK(NativeFocus(t.m_dlg) == id);
        }
    }
    // OK and Exit end the dialog: each is reached and pressed on its own.
    for (int id : {IDOK, IDCANCEL}) {
        CAPTURE(id);
        CContract other;
        other.Item(IDC_DELAY).SetWindowText("30");
        other.Item(id).SetFocus();
        UserKey(other.m_dlg, CKey::Space);
        CHECK(other.m_dlg.m_commands == std::vector<int>{id});
        CHECK_FALSE(other.m_dlg.IsWindowVisible());
    }
}

TEST_CASE("the list control shows the entries in the framework's order") {
    CContract t;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    CListBox& list = t.m_dlg.m_lbServers;
    for (const char* entry : {"10.0.0.12", "10.0.0.1", "0X0A000002", "0x0a000001", "10.0.0.2"})
        list.AddString(entry);
    const std::vector<CString> sorted = {"0x0a000001", "0X0A000002", "10.0.0.1", "10.0.0.12",
                                         "10.0.0.2"};
    CHECK(NativeListEntries(t.m_dlg, IDC_SERVER_LIST) == sorted);
    // Only a whole entry matches, whatever its case.
    CHECK(list.FindStringExact(-1, "0X0A000001") == 0);
    CHECK(list.FindStringExact(-1, "10.0.0.1") == 2);
    CHECK(list.FindStringExact(-1, "10.0.0") == LB_ERR);

    // The user's selection is the framework's; deleting it leaves nothing selected.
    CHECK(list.GetCurSel() == LB_ERR);
    UserSelects(t.m_dlg, IDC_SERVER_LIST, 3);
    CHECK(list.GetCurSel() == 3);
    REQUIRE(list.DeleteString(3) == 4);
    CHECK(list.GetCurSel() == LB_ERR);
    CHECK(NativeListSelection(t.m_dlg, IDC_SERVER_LIST) == LB_ERR);
    CHECK(NativeListEntries(t.m_dlg, IDC_SERVER_LIST).size() == 4);

    // Entries added before the control was bound are shown once it is.
    CContractDlg other(t.m_platform);
    other.m_lbServers.AddString("b");
    other.m_lbServers.AddString("A");
    REQUIRE(other.Create());
    REQUIRE(other.UpdateData(FALSE));
    CHECK(NativeListEntries(other, IDC_SERVER_LIST) == std::vector<CString>{"A", "b"});
}

TEST_CASE("a list of 200,000 entries reaches the control whole, in the framework's order") {
    CContract t;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    CListBox& list = t.m_dlg.m_lbServers;
    list.AddString("srv0100000");
    // Numbered entries in a scrambled order, every other one in capitals: ignoring case, the
    // order is the numbers'.
    constexpr int kCount = 200000;
    auto name = [](int n) {
        char text[16];
        std::snprintf(text, sizeof text, n % 2 == 0 ? "srv%07d" : "SRV%07d", n);
        return CString(text);
    };
    std::vector<CString> texts;
    for (int i = 0; i < kCount; ++i) {
        const int n = static_cast<int>((static_cast<long long>(i) * 7919 + 13) % kCount);
        if (n != 100000) texts.push_back(name(n));
    }
    list.AddStrings(texts);
    std::vector<CString> expected;
    for (int n = 0; n < kCount; ++n) expected.push_back(name(n));
    CHECK(list.GetCount() == kCount);
    CHECK((NativeListEntries(t.m_dlg, IDC_SERVER_LIST) == expected));

    // The control goes on mirroring single changes after the bulk load.
    CHECK(list.AddString("SRV0099999a") == 100000);
    REQUIRE(list.DeleteString(0) == kCount);
    const std::vector<CString> native = NativeListEntries(t.m_dlg, IDC_SERVER_LIST);
    REQUIRE(native.size() == static_cast<std::size_t>(kCount));
    CHECK(native.front() == name(1));
    CHECK(native[99998] == name(99999));
    CHECK(native[99999] == "SRV0099999a");
    CHECK(native.back() == name(kCount - 1));
    UserSelects(t.m_dlg, IDC_SERVER_LIST, kCount - 1);
    CHECK(list.GetCurSel() == kCount - 1);
}

TEST_CASE("the keys and clicks a dialog user knows reach the commands") {
    CContract t;
    REQUIRE(t.m_dlg.UpdateData(FALSE));
    t.Item(IDC_DELAY).SetWindowText("30");

    SUBCASE("Enter in an edit is the default button, OK") {
        t.Item(IDC_NEW_SERVER).SetFocus();
        UserKey(t.m_dlg, CKey::Enter);
        CHECK(t.m_dlg.m_commands == std::vector<int>{IDOK});
        // OK ended the modeless dialog: hidden, not gone.
        CHECK_FALSE(t.m_dlg.IsWindowVisible());
        CHECK(t.m_dlg.IsWindow());
    }
    SUBCASE("Enter on a focused button is that button") {
        t.Item(IDC_ADD).SetFocus();
        UserKey(t.m_dlg, CKey::Enter);
        CHECK(t.m_dlg.m_commands == std::vector<int>{IDC_ADD});
    }
    SUBCASE("Escape is Cancel") {
        UserKey(t.m_dlg, CKey::Escape);
        CHECK(t.m_dlg.m_commands == std::vector<int>{IDCANCEL});
        CHECK_FALSE(t.m_dlg.IsWindowVisible());
    }
    SUBCASE("mnemonics") {
        t.Item(IDC_DELAY).SetFocus();
        UserMnemonic(t.m_dlg, 'a');
        UserMnemonic(t.m_dlg, 'r');
        if (kMnemonicsDelivered) CHECK(t.m_dlg.m_commands == std::vector<int>{IDC_ADD, IDC_REMOVE});
    }
    SUBCASE("a click") {
        UserClicks(t.m_dlg, IDC_ABOUT);
        CHECK(t.m_dlg.m_commands == std::vector<int>{IDC_ABOUT});
    }
    SUBCASE("the window manager's close is Cancel") {
        UserCloses(t.m_dlg);
        CHECK(t.m_dlg.m_commands == std::vector<int>{IDCANCEL});
    }
    // Typing is no command.
    const std::size_t nCommands = t.m_dlg.m_commands.size();
    UserTypes(t.m_dlg, IDC_NEW_SERVER, "1");
    CHECK(t.m_dlg.m_commands.size() == nCommands);
}

TEST_CASE("a modal box runs its own loop until its end, its owner disabled meanwhile") {
    CContract t;
    CDialog about(AboutBoxTemplate(), t.m_platform);
    int nTicks = 0;
    SUBCASE("Enter: its default button") {
        RunInLoop([&] {
            ++nTicks;
            CHECK(about.IsWindowVisible());
            UserKey(about, CKey::Enter);
        });
        CHECK(about.DoModal(&t.m_dlg) == IDOK);
    }
    SUBCASE("Escape") {
        RunInLoop([&] { UserKey(about, CKey::Escape); });
        CHECK(about.DoModal(&t.m_dlg) == IDCANCEL);
    }
    CHECK_FALSE(about.IsWindow());
    PumpEvents();
}

TEST_CASE("the message loop ends with the main window, whichever way it goes") {
    CFakePlatform platform;
    struct CApp : CWinApp {
        explicit CApp(CPlatform& p) : CWinApp(p), m_dlg(p) {}
        BOOL InitInstance() override {
            m_dlg.m_bDestroyOnCancel = true;
            m_dlg.Create();
            m_pMainWnd = &m_dlg;
            return TRUE;
        }
        CContractDlg m_dlg;
    } app(platform);
    const char* ways[] = {"Escape", "Exit", "close", "close while a box is open"};
    for (const char* way : ways) {
        CAPTURE(way);
        const CString how = way;
        CDialog about(AboutBoxTemplate(), platform);
        int nAboutResult = 0;
        RunInLoop([&app, &about, &nAboutResult, how] {
            app.m_dlg.ShowWindow(SW_SHOW);
            app.m_dlg.SetForegroundWindow();
            if (how == "Escape") {
                UserKey(app.m_dlg, CKey::Escape);
            } else if (how == "Exit") {
                UserClicks(app.m_dlg, IDCANCEL);
            } else if (how == "close") {
                UserCloses(app.m_dlg);
            } else {
                // The main window's end ends the box's loop too, and then the program.
                RunInLoop([&app] { OtherProgramCloses(app.m_dlg); });
                nAboutResult = about.DoModal(&app.m_dlg);
            }
        });
        CHECK(AfxWinMain(app) == 0);
        CHECK_FALSE(app.m_dlg.IsWindow());
        if (how == "close while a box is open") {
            CHECK(nAboutResult == IDCANCEL);
            CHECK_FALSE(about.IsWindow());
        }
    }
}
