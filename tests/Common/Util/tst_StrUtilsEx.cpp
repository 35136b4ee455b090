// ctest-label: unit
#include "Common/Util/StrUtilsEx.h"
#include "Platform/Runtime/Exception.h"

#include <QBuffer>
#include <QLocale>
#include <QTest>

class TestStrUtilsEx : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary)); }

    void fixArticle_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("vowel") << "A(z) ablak"
                               << "Az ablak";
        QTest::newRow("lower consonant") << "a(z) kép"
                                         << "a kép";
        QTest::newRow("long vowel capital") << "A(z) Öt"
                                            << "Az Öt";
        QTest::newRow("single consonant at end") << "A(z) k"
                                                 << "A k";
        QTest::newRow("only spaces after marker") << "x A(z)   "
                                                  << "x A(z)   ";
        QTest::newRow("markers after a trailing one stay") << "A(z) alma A(z) "
                                                           << "Az alma A(z) ";
        QTest::newRow("digit counts as consonant") << "A(z) 3"
                                                   << "A 3";
        QTest::newRow("no marker") << "Semmi"
                                   << "Semmi";
        QTest::newRow("two markers") << "A(z) ég és a(z) föld"
                                     << "Az ég és a föld";
        QTest::newRow("no-break space") << QString("A(z)\u00A0egér") << QString("Az\u00A0egér");
        QTest::newRow("upper marker") << "A(Z) Ű"
                                      << "Az Ű";
        QTest::newRow("template") << "A(z) környezetek betöltése."
                                  << "A környezetek betöltése.";
    }
    void fixArticle() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(FixArticle(input), expected);
    }

    void compareVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("sign");
        QTest::newRow("equal") << "1.0"
                               << "1.0" << 0;
        QTest::newRow("shorter") << "1.0"
                                 << "1.0.1" << -1;
        QTest::newRow("folded letters") << "1.A"
                                        << "1.a" << 0;
        QTest::newRow("greater") << "1.1"
                                 << "1.0" << 1;
        QTest::newRow("length wins") << "1.10"
                                     << "1.9" << 1;
        QTest::newRow("empty is lowest") << ""
                                         << "0" << -1;
        QTest::newRow("same length as text") << "2.0"
                                             << "1.9" << 1;
    }
    void compareVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, sign);
        const int r = CompareVersions(a, b);
        QCOMPARE((r > 0) - (r < 0), sign);
    }

    void sizeToText_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("forceBytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bytes") << qint64(1023) << false << "1 023 bájt";
        QTest::newRow("one KB") << qint64(1024) << false << "1 KB";
        QTest::newRow("rounds up to 1 024 KB") << qint64(1048575) << false << "1 024 KB";
        QTest::newRow("decimals") << qint64(1536) << false << "1,5 KB";
        QTest::newRow("MB") << qint64(5 * 1048576 + 262144) << false << "5,25 MB";
        QTest::newRow("GB") << qint64(3) * 1073741824 << false << "3 GB";
        QTest::newRow("forced bytes") << qint64(1234567) << true << "1 234 567 bájt";
        QTest::newRow("negative") << qint64(-1234) << false << "-1 234";
        QTest::newRow("zero") << qint64(0) << false << "0 bájt";
    }
    void sizeToText() {
        QFETCH(qint64, size);
        QFETCH(bool, forceBytes);
        QFETCH(QString, expected);
        QCOMPARE(SizeToText(size, forceBytes), expected);
    }

    void base64Lines() {
        QByteArray data(200, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i);
        const QByteArray text = Base64EncodeBytes(data);
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], data.left(57).toBase64() + '\r');
        QVERIFY(!text.endsWith("\r\n"));
        QCOMPARE(Base64DecodeBytes(text), data);
        QCOMPARE(Base64DecodeBytes("QUJD\r\nRA=="), QByteArray("ABCD"));
        QCOMPARE(Base64DecodeBytes("QUJDRA"), QByteArray("ABCD")); // two significant chars
        QCOMPARE(Base64DecodeBytes("QUJDREU"), QByteArray("ABCDE"));
        QCOMPARE(Base64EncodeBytes(QByteArray()), QByteArray());
    }

    void hex() {
        QCOMPARE(BytesToHex(QByteArray("\x01\xab\xff", 3)), QString("01ABFF"));
        QCOMPARE(HexToBytes("01abFF"), QByteArray("\x01\xab\xff", 3));
        QCOMPARE(HexToBytes("414"), QByteArray("A")); // odd last character ignored
        QVERIFY_THROWS_EXCEPTION(EConvertError, HexToBytes("4G"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, HexToBytes("+1"));
    }

    void format() {
        QCOMPARE(Format("%.2d: %s (%u): %s", {3, "Unit", 42u, "Proc"}),
                 QString("03: Unit (42): Proc"));
        QCOMPARE(Format("External exception %x", {0xC0000005u}),
                 QString("External exception C0000005"));
        QCOMPARE(Format("100%% %s", {"kész"}), QString("100% kész"));
    }
};

QTEST_GUILESS_MAIN(TestStrUtilsEx)
#include "tst_StrUtilsEx.moc"
