// The list file format: what each kind of file reads as, and that what we write reads back.

#include <QtTest/QtTest>

#include "listfile.h"

Q_DECLARE_METATYPE(std::optional<int>)

namespace {

QStringList Servers(const CListFileData& data) {
    QStringList list;
    for (const CString& s : data.servers) list << QString::fromStdString(s);
    return list;
}

}  // namespace

class CTestListFile : public QObject {
    Q_OBJECT

private slots:
    void Read_data();
    void Read();
    void RoundTrip();
    void WrittenForm();
};

void CTestListFile::Read_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<std::optional<int>>("delay");
    QTest::addColumn<std::optional<BOOL>>("cycle");
    QTest::addColumn<std::optional<BOOL>>("sound");
    QTest::addColumn<QStringList>("servers");
    using D = std::optional<int>;
    using F = std::optional<BOOL>;
    const F on = TRUE, off = FALSE, none;

    QTest::newRow("as written") << QByteArray("30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n") << D(30)
                                << off << on << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("delay line alone")
        << QByteArray("45\r\n") << D(45) << none << none << QStringList{};
    QTest::newRow("no line end at all")
        << QByteArray("45") << D(45) << none << none << QStringList{};
    QTest::newRow("three lines, no servers")
        << QByteArray("7\r\n1\r\n0\r\n") << D(7) << on << off << QStringList{};
    // Leading white space, line ends included, is skipped by the number: line 2 is then both
    // the delay and the cycle flag.
    QTest::newRow("blank first line")
        << QByteArray("\r\n1\r\n1\r\n10.0.0.3\r\n") << D(1) << on << on << QStringList{"10.0.0.3"};
    QTest::newRow("letters first") << QByteArray("abc\r\n1\r\n0\r\n10.0.0.4\r\n") << D() << on
                                   << off << QStringList{"10.0.0.4"};
    QTest::newRow("sign and garbage")
        << QByteArray("-12x\r\n0\r\n0\r\n") << D(-12) << off << off << QStringList{};
    QTest::newRow("huge delay saturates")
        << QByteArray("99999999999999\r\n0\r\n0\r\n") << D(INT_MAX) << off << off << QStringList{};
    // Only the character 1 counts as on.
    QTest::newRow("flags other than 1")
        << QByteArray("5\r\n2\r\ny\r\n") << D(5) << off << off << QStringList{};
    QTest::newRow("servers cleaned")
        << QByteArray(
               "5\r\n0\r\n0\r\n  10.0.0.9 \t\r\n\r\nhost.example\r\n255.255.255.255\r\n"
               "167772161\r\n0x7f.1\r\n1.2.3.4 x\r\n")
        << D(5) << off << off << QStringList{"10.0.0.9", "167772161", "0x7f.1"};
    // Files edited on Linux: every server survives.
    QTest::newRow("LF only") << QByteArray("8\n1\n1\n10.0.0.1\n10.0.0.2\n10.0.0.3") << D(8) << on
                             << on << QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    QTest::newRow("mixed line ends") << QByteArray("8\r\n1\n0\r\n10.0.0.1\n\n10.0.0.2\r\n") << D(8)
                                     << on << off << QStringList{"10.0.0.1", "10.0.0.2"};
    QTest::newRow("NUL inside a line")
        << QByteArray("8\r\n0\r\n0\r\n10.0.0.1#junk\r\n10.0.0.2\r\n").replace('#', '\0') << D(8)
        << off << off << QStringList{"10.0.0.2"};
    QTest::newRow("ends inside a server line")
        << QByteArray("8\r\n0\r\n0\r\n10.0.0.1\r\n10.0") << D(8) << off << off
        << QStringList{"10.0.0.1", "10.0"};
}

void CTestListFile::Read() {
    QFETCH(QByteArray, file);
    QFETCH(std::optional<int>, delay);
    QFETCH(std::optional<BOOL>, cycle);
    QFETCH(std::optional<BOOL>, sound);
    QFETCH(QStringList, servers);
    const CListFileData data = ParseListFile(file.constData(), std::size_t(file.size()));
    QCOMPARE(data.nDelay, delay);
    QCOMPARE(data.bCycleOnNoContact, cycle);
    QCOMPARE(data.bSound, sound);
    QCOMPARE(Servers(data), servers);
}

void CTestListFile::RoundTrip() {
    const std::vector<CString> servers{"10.0.0.1", "127.0.0.1", "2130706433"};
    const CString text = FormatListFile(-3, TRUE, FALSE, servers);
    const CListFileData data = ParseListFile(text.data(), text.size());
    QCOMPARE(data.nDelay, std::optional<int>(-3));
    QCOMPARE(data.bCycleOnNoContact, std::optional<BOOL>(TRUE));
    QCOMPARE(data.bSound, std::optional<BOOL>(FALSE));
    QCOMPARE(data.servers, servers);
}

void CTestListFile::WrittenForm() {
    QCOMPARE(FormatListFile(30, FALSE, TRUE, {"10.0.0.1", "10.0.0.2"}),
             CString("30\r\n0\r\n1\r\n10.0.0.1\r\n10.0.0.2\r\n"));
    // An empty list gives exactly three lines; a flag other than 1 is written as 0.
    QCOMPARE(FormatListFile(3600, 2, -1, {}), CString("3600\r\n0\r\n0\r\n"));
}

QTEST_APPLESS_MAIN(CTestListFile)
#include "test_listfile.moc"
