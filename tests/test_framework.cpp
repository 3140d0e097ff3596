// The window layer's own rules: how it reads numbers and how its list box orders and finds.

#include <QtTest/QtTest>
#include <climits>

#include "framework/dialog.h"
#include "framework/listbox.h"

class CTestFramework : public QObject {
    Q_OBJECT

private slots:
    void ParseInt_data();
    void ParseInt();
    void ListBoxKeepsCaseInsensitiveOrder();
    void ListBoxFindsWholeEntriesOnly();
    void ListBoxReportsErrors();
};

void CTestFramework::ParseInt_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("plain") << QByteArray("30") << true << 30;
    QTest::newRow("blanks and tabs around") << QByteArray(" \t 45\t ") << true << 45;
    QTest::newRow("signs") << QByteArray("-7") << true << -7;
    QTest::newRow("plus") << QByteArray("+8") << true << 8;
    QTest::newRow("saturates high") << QByteArray("99999999999999999999") << true << INT_MAX;
    QTest::newRow("saturates low") << QByteArray("-99999999999999999999") << true << INT_MIN;
    QTest::newRow("int min exactly") << QByteArray("-2147483648") << true << INT_MIN;
    QTest::newRow("empty") << QByteArray("") << false << 0;
    QTest::newRow("blanks only") << QByteArray("   ") << false << 0;
    QTest::newRow("letters") << QByteArray("abc") << false << 0;
    QTest::newRow("trailing letters") << QByteArray("12s") << false << 0;
    QTest::newRow("sign alone") << QByteArray("-") << false << 0;
    QTest::newRow("space inside") << QByteArray("1 2") << false << 0;
    QTest::newRow("newline is not a blank") << QByteArray("5\n") << false << 0;
    QTest::newRow("decimal point") << QByteArray("3.5") << false << 0;
}

void CTestFramework::ParseInt() {
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    int parsed = -12345;
    QCOMPARE(AfxParseInt(text.toStdString(), parsed), ok);
    if (ok) QCOMPARE(parsed, value);
}

void CTestFramework::ListBoxKeepsCaseInsensitiveOrder() {
    CListBox list;
    for (const char* entry : {"10.0.0.2", "b.host", "10.0.0.12", "A.host", "10.0.0.1"})
        list.AddString(entry);
    QStringList order;
    for (int i = 0; i < list.GetCount(); ++i) {
        CString text;
        list.GetText(i, text);
        order << QString::fromStdString(text);
    }
    QCOMPARE(order, QStringList({"10.0.0.1", "10.0.0.12", "10.0.0.2", "A.host", "b.host"}));
    // An entry goes in after the ones equal to it.
    QCOMPARE(list.AddString("a.HOST"), 4);
}

void CTestFramework::ListBoxFindsWholeEntriesOnly() {
    CListBox list;
    list.AddString("10.0.0.12");
    list.AddString("Host.Example");
    QCOMPARE(list.FindStringExact(-1, "10.0.0.1"), LB_ERR);
    QCOMPARE(list.FindStringExact(-1, "10.0.0.12"), 0);
    QCOMPARE(list.FindStringExact(-1, "host.example"), 1);
    QCOMPARE(list.FindStringExact(-1, "Host.Exampl"), LB_ERR);
}

void CTestFramework::ListBoxReportsErrors() {
    CListBox list;
    CString text = "kept";
    QCOMPARE(list.GetCurSel(), LB_ERR);
    QCOMPARE(list.GetText(0, text), LB_ERR);
    QCOMPARE(text, CString("kept"));
    QCOMPARE(list.DeleteString(0), LB_ERR);
    QCOMPARE(list.FindStringExact(-1, "x"), LB_ERR);
    list.AddString("x");
    QCOMPARE(list.DeleteString(1), LB_ERR);
    QCOMPARE(list.DeleteString(0), 0);
}

QTEST_MAIN(CTestFramework)
#include "test_framework.moc"
