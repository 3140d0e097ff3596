#pragma once
// Dialogs built from templates, with data exchange and validation between members and
// controls, and the framework's own validation messages.

#include <vector>

#include "framework/wnd.h"

// One control of a dialog template; positions and sizes are in dialog units.
enum class CtrlKind { Edit, CheckBox, PushButton, DefPushButton, ListBox, Static, Icon };

struct CDialogItem {
    int nID;
    CtrlKind kind;
    const char* pszText;  // for an icon: unused (see nIconId)
    int x, y, cx, cy;
    DWORD dwStyle;  // the window styles below that matter to the program
    UINT nIconId = 0;
    // The system's styles, as the Windows resource holds them.
    DWORD dwNativeStyle = 0;
    DWORD dwNativeExStyle = 0;
};

// Styles the backends honour.
constexpr DWORD kStyleTabStop = 0x1;
constexpr DWORD kStyleLeftScrollBar = 0x2;  // list box: vertical scroll bar on the left
constexpr DWORD kStyleNoPrefix = 0x4;       // static: '&' is shown as is
constexpr DWORD kStyleAppWindow = 0x8;      // dialog: a taskbar entry while shown

// What a screen reader is told of a control beyond what it shows: the static that labels it
// (0 for none), and the name and description read out, as string resources (0 for none).
struct CAccessibleItem {
    int nID;
    int nLabelID;
    UINT nNameId;
    UINT nDescriptionId;
};

struct CDialogTemplate {
    UINT nID;
    const char* pszCaption;
    int cx, cy;
    const char* pszFont;
    int nPointSize;
    DWORD dwStyle;
    std::vector<CDialogItem> items;
    std::vector<CAccessibleItem> accessible;
};

class CDialog;

// State of one UpdateData run.
class CDataExchange {
public:
    CDataExchange(CDialog& dlg, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(&dlg) {}

    void PrepareCtrl(int nIDC);
    void PrepareEditCtrl(int nIDC);
    // Puts the focus on the control last prepared (its text selected) and abandons the
    // exchange; UpdateData then reports failure.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;
    int m_idLastControl = 0;
    bool m_bEditLastControl = false;
};

class CDialog : public CWnd {
public:
    CDialog(const CDialogTemplate& tmpl, CPlatform& platform);

    // Modeless: creates the window hidden, then sends WM_CREATE and WM_INITDIALOG.
    BOOL Create(CWnd* pParentWnd = nullptr);
    // Modal: runs the dialog to its end and returns the code given to EndDialog.
    int DoModal(CWnd* pParentWnd = nullptr);
    // Ends a modal dialog; a modeless one is only hidden.
    void EndDialog(int nResult);

    // Runs DoDataExchange; FALSE after a validation message was shown.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Shows one of the framework's messages (application name as caption), owned by this
    // dialog.
    int AfxMessageBox(const CString& text, UINT nType);

    CPlatform& Platform() const { return *m_pPlatform; }

    // For the data exchange helpers.
    void AttachControl(CWnd& control, int nIDC);
    int GetItemCheck(int nIDC) const;
    void SetItemCheck(int nIDC, int nCheck);
    void LimitItemText(int nIDC, int nChars);

protected:
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnClose() override;

private:
    BOOL CreateImpl(CWnd* pParentWnd, bool bModal);

    const CDialogTemplate& m_template;
    bool m_bModal = false;
};

// Data exchange between controls and members, in the order DoDataExchange calls them.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control);
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
void DDX_Check(CDataExchange* pDX, int nIDC, BOOL& value);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
void DDV_MaxChars(CDataExchange* pDX, const CString& value, int nChars);

// The framework's integer reading: blanks and tabs around a decimal number with an optional
// sign; beyond 32 bits it saturates. False for anything else.
bool AfxParseInt(const CString& text, int& value);
// Characters in UTF-8 text (the length the user sees).
int AfxCharCount(const CString& text);
// The first n characters of UTF-8 text.
CString AfxLeftChars(const CString& text, int n);
