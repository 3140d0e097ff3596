// Address text must read exactly as the socket layer reads it: a value we accept differently,
// or text it would accept and we pass through, puts the wrong server in the list.

#include <QtCore/QtEndian>
#include <QtTest/QtTest>

#include "inet.h"

class CTestInet : public QObject {
    Q_OBJECT

private slots:
    void Accepted_data();
    void Accepted();
    void Refused_data();
    void Refused();
    void AllOnesRefused_data();
    void AllOnesRefused();
    void NullRefused();
    void NtoaRoundTrip_data();
    void NtoaRoundTrip();
};

void CTestInet::Accepted_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<quint32>("host");  // expected value in host order
    QTest::addColumn<QString>("dotted");

    // Four parts.
    QTest::newRow("zero") << QByteArray("0.0.0.0") << 0x00000000u << "0.0.0.0";
    QTest::newRow("dotted") << QByteArray("1.2.3.4") << 0x01020304u << "1.2.3.4";
    QTest::newRow("last 255") << QByteArray("1.2.3.255") << 0x010203FFu << "1.2.3.255";
    QTest::newRow("highest") << QByteArray("255.255.255.254") << 0xFFFFFFFEu << "255.255.255.254";
    QTest::newRow("octal part") << QByteArray("010.0.0.1") << 0x08000001u << "8.0.0.1";
    QTest::newRow("octal max") << QByteArray("0377.0377.0377.0376") << 0xFFFFFFFEu
                               << "255.255.255.254";
    QTest::newRow("hex parts") << QByteArray("0xA.0xb.0Xc.0XD") << 0x0A0B0C0Du << "10.11.12.13";
    QTest::newRow("mixed bases") << QByteArray("0x7F.010.9.0") << 0x7F080900u << "127.8.9.0";

    // Three parts: 8.8.16.
    QTest::newRow("a.b.c") << QByteArray("10.1.300") << 0x0A01012Cu << "10.1.1.44";
    QTest::newRow("a.b.c max") << QByteArray("1.2.65535") << 0x0102FFFFu << "1.2.255.255";

    // Two parts: 8.24.
    QTest::newRow("127.1") << QByteArray("127.1") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("0x7f.1") << QByteArray("0x7f.1") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("a.b max") << QByteArray("1.0xffffff") << 0x01FFFFFFu << "1.255.255.255";

    // One part: 32 bits.
    QTest::newRow("0") << QByteArray("0") << 0x00000000u << "0.0.0.0";
    QTest::newRow("0x0") << QByteArray("0x0") << 0x00000000u << "0.0.0.0";
    QTest::newRow("decimal") << QByteArray("2130706433") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("octal") << QByteArray("017700000001") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("hex") << QByteArray("0X7F000001") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("decimal max") << QByteArray("4294967294") << 0xFFFFFFFEu << "255.255.255.254";

    // Leading zeros do not count towards overflow.
    QTest::newRow("long octal") << QByteArray("0000000000000000000000377.1") << 0xFF000001u
                                << "255.0.0.1";
    QTest::newRow("long hex") << QByteArray("0x000000000000000000000001") << 0x00000001u
                              << "0.0.0.1";
}

void CTestInet::Accepted() {
    QFETCH(QByteArray, text);
    QFETCH(quint32, host);
    QFETCH(QString, dotted);

    const std::uint32_t address = InetAddr(text.constData());
    QCOMPARE(address, qToBigEndian(host));
    QCOMPARE(QString::fromStdString(InetNtoa(address)), dotted);
}

void CTestInet::Refused_data() {
    QTest::addColumn<QByteArray>("text");

    // Shape.
    QTest::newRow("empty") << QByteArray("");
    QTest::newRow("dot") << QByteArray(".");
    QTest::newRow("leading dot") << QByteArray(".1");
    QTest::newRow("empty middle") << QByteArray("1..2");
    QTest::newRow("trailing dot") << QByteArray("1.2.3.");
    QTest::newRow("trailing dot 4") << QByteArray("1.2.3.4.");
    QTest::newRow("five parts") << QByteArray("1.2.3.4.5");
    QTest::newRow("comma") << QByteArray("1,2,3,4");
    QTest::newRow("prefix length") << QByteArray("1.2.3.4/24");
    QTest::newRow("name") << QByteArray("localhost");

    // White space, signs and trailing text.
    QTest::newRow("leading space") << QByteArray(" 1.2.3.4");
    QTest::newRow("trailing space") << QByteArray("1.2.3.4 ");
    QTest::newRow("trailing newline") << QByteArray("1.2.3.4\n");
    QTest::newRow("inner space") << QByteArray("1 .2.3.4");
    QTest::newRow("trailing word") << QByteArray("1.2.3.4 extra");
    QTest::newRow("trailing letter") << QByteArray("1.2.3.4x");
    QTest::newRow("plus") << QByteArray("+1.2.3.4");
    QTest::newRow("minus") << QByteArray("-1");
    QTest::newRow("inner minus") << QByteArray("1.-2.3.4");
    QTest::newRow("hex minus") << QByteArray("0x-1");

    // Bases.
    QTest::newRow("0x alone") << QByteArray("0x");
    QTest::newRow("0x part") << QByteArray("0x.1");
    QTest::newRow("0x last") << QByteArray("1.0x");
    QTest::newRow("spaced 0x") << QByteArray("0 x1");
    QTest::newRow("octal 8") << QByteArray("08");
    QTest::newRow("octal 9") << QByteArray("09.1.1.1");
    QTest::newRow("octal 8 last") << QByteArray("1.2.3.08");
    QTest::newRow("hex trailing g") << QByteArray("1.2.3.0x1G");
    QTest::newRow("decimal with hex") << QByteArray("1a.2.3.4");

    // Part widths.
    QTest::newRow("a 256") << QByteArray("256.0.0.1");
    QTest::newRow("b 256") << QByteArray("1.256.0.1");
    QTest::newRow("c 256") << QByteArray("1.2.256.1");
    QTest::newRow("d 256") << QByteArray("1.2.3.256");
    QTest::newRow("octal 0400") << QByteArray("1.2.3.0400");
    QTest::newRow("a.b.c a 256") << QByteArray("256.1.1");
    QTest::newRow("a.b.c c 65536") << QByteArray("1.2.65536");
    QTest::newRow("a.b a 256") << QByteArray("256.1");
    QTest::newRow("a.b b 2^24") << QByteArray("1.0x1000000");

    // Overflow, including values that wrap to something small.
    QTest::newRow("2^32") << QByteArray("4294967296");
    QTest::newRow("2^32+1") << QByteArray("4294967297");
    QTest::newRow("2^64+1") << QByteArray("18446744073709551617");
    QTest::newRow("huge decimal") << QByteArray("99999999999999999999999999999999");
    QTest::newRow("hex 2^32") << QByteArray("0x100000000");
    QTest::newRow("hex 2^64+1") << QByteArray("0x10000000000000001");
    QTest::newRow("octal 2^32") << QByteArray("040000000000");
    QTest::newRow("huge last part") << QByteArray("1.2.3.18446744073709551617");
}

void CTestInet::Refused() {
    QFETCH(QByteArray, text);
    QCOMPARE(InetAddr(text.constData()), std::uint32_t(INADDR_NONE));
}

void CTestInet::AllOnesRefused_data() {
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("dotted") << QByteArray("255.255.255.255");
    QTest::newRow("hex dotted") << QByteArray("0xff.0xff.0xff.0xff");
    QTest::newRow("octal dotted") << QByteArray("0377.0377.0377.0377");
    QTest::newRow("a.b.c") << QByteArray("255.255.0xffff");
    QTest::newRow("a.b") << QByteArray("255.0xffffff");
    QTest::newRow("decimal") << QByteArray("4294967295");
    QTest::newRow("hex") << QByteArray("0xffffffff");
    QTest::newRow("octal") << QByteArray("037777777777");
}

void CTestInet::AllOnesRefused() {
    QFETCH(QByteArray, text);
    QCOMPARE(InetAddr(text.constData()), std::uint32_t(INADDR_NONE));
}

void CTestInet::NullRefused() { QCOMPARE(InetAddr(nullptr), std::uint32_t(INADDR_NONE)); }

void CTestInet::NtoaRoundTrip_data() {
    QTest::addColumn<quint32>("host");
    QTest::addColumn<QString>("dotted");

    QTest::newRow("zero") << 0x00000000u << "0.0.0.0";
    QTest::newRow("loopback") << 0x7F000001u << "127.0.0.1";
    QTest::newRow("zeros inside") << 0x0A00FF01u << "10.0.255.1";
    QTest::newRow("highest") << 0xFFFFFFFEu << "255.255.255.254";
}

void CTestInet::NtoaRoundTrip() {
    QFETCH(quint32, host);
    QFETCH(QString, dotted);

    const std::uint32_t address = qToBigEndian(host);
    const CString text = InetNtoa(address);
    QCOMPARE(QString::fromStdString(text), dotted);
    QCOMPARE(InetAddr(text.c_str()), address);
}

QTEST_APPLESS_MAIN(CTestInet)

#include "test_inet.moc"
