// ctest-label: unit
#include "Common/Rights/Rights.h"
#include "Platform/Runtime/Exception.h"

#include <QTest>

namespace {

// The levels of rights 0 to n-1 as a string of digits.
QString Levels(const TRights& rights, int n) {
    QString text;
    for (int i = 0; i < n; ++i)
        text += QChar(u'0' + rights[i].Value());
    return text;
}

} // namespace

class TestRights : public QObject {
    Q_OBJECT
private slots:
    void startsEmpty() {
        TRights rights;
        for (int i = 0; i < TRights::RightCount; ++i) {
            QCOMPARE(rights[i].Value(), rvNone);
            QCOMPARE(int(rights[i].Position()), i);
        }
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, rights.Rights(256));
        QVERIFY_THROWS_EXCEPTION(EAssertionFailed, rights.Rights(-1));
    }

    void strings_data() {
        QTest::addColumn<QString>("assign");
        QTest::addColumn<QString>("add");
        QTest::addColumn<QString>("expected"); // rights 0 to 6
        QTest::newRow("1234") << "1234"
                              << ""
                              << "0123400";
        QTest::newRow("assign clears first") << "4444"
                                             << ""
                                             << "0444400";
        QTest::newRow("empty string") << ""
                                      << ""
                                      << "0000000";
        QTest::newRow("add never lowers") << "4"
                                          << "1"
                                          << "0400000";
        QTest::newRow("add raises") << "1"
                                    << "4"
                                    << "0400000";
        QTest::newRow("add zero changes nothing") << "3333"
                                                  << "0000"
                                                  << "0333300";
        QTest::newRow("add past the assigned end") << "1"
                                                   << "0022"
                                                   << "0102200";
        QTest::newRow("bad characters ignored on assign") << "1x3 5"
                                                          << ""
                                                          << "0103000";
        QTest::newRow("bad characters ignored on add") << "2222"
                                                       << "a4-9"
                                                       << "0242200";
    }
    void strings() {
        QFETCH(QString, assign);
        QFETCH(QString, add);
        QFETCH(QString, expected);
        TRights rights;
        rights.AssignFromString(QStringLiteral("4444"));
        rights.AssignFromString(assign);
        rights.AddFromString(add);
        QCOMPARE(Levels(rights, 7), expected);
        for (int i = 7; i < TRights::RightCount; ++i)
            QCOMPARE(rights[i].Value(), rvNone);
    }

    void assignZerosAfterFours() {
        TRights rights;
        rights.AssignFromString(QStringLiteral("4444"));
        rights.AssignFromString(QStringLiteral("0000000000"));
        QCOMPARE(Levels(rights, 11), QStringLiteral("00000000000"));
    }

    void fullLengthAndLonger() {
        TRights rights;
        QString full;
        for (int i = 1; i <= 255; ++i)
            full += QChar(u'0' + i % 5);
        rights.AssignFromString(full);
        for (int i = 1; i <= 255; ++i)
            QCOMPARE(int(rights[i].Value()), i % 5);
        QCOMPARE(rights[0].Value(), rvNone);
        // Characters past the 255th are ignored; nothing outside the table is written.
        rights.AssignFromString(QString(1000, u'4'));
        for (int i = 1; i <= 255; ++i)
            QCOMPARE(rights[i].Value(), rvDelete);
        QCOMPARE(rights[0].Value(), rvNone);
        rights.AddFromString(QString(300, u'4'));
        QCOMPARE(rights[255].Value(), rvDelete);
    }

    void queries_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("any");
        QTest::addColumn<bool>("write");
        QTest::addColumn<bool>("create");
        QTest::addColumn<bool>("remove");
        QTest::newRow("none") << int(rvNone) << false << false << false << false;
        QTest::newRow("read") << int(rvRead) << true << false << false << false;
        QTest::newRow("write") << int(rvWrite) << true << true << false << false;
        QTest::newRow("new") << int(rvNew) << true << true << true << false;
        QTest::newRow("delete") << int(rvDelete) << true << true << true << true;
    }
    void queries() {
        QFETCH(int, level);
        QFETCH(bool, any);
        QFETCH(bool, write);
        QFETCH(bool, create);
        QFETCH(bool, remove);
        TRights rights;
        TRight& right = rights[75];
        right.SetValue(TRightValue(level));
        QCOMPARE(right.HasAny(), any);
        QCOMPARE(right.CanRead(), any);
        QCOMPARE(right.CanWrite(), write);
        QCOMPARE(right.CanCreate(), create);
        QCOMPARE(right.CanDelete(), remove);
    }

    void changeNotifications() {
        TRights rights;
        QList<int> calls; // positions, -1 for the end of an update
        rights.SetOnChange(
            [&calls](TRight* right) { calls << (right != nullptr ? right->Position() : -1); });
        rights[5].SetValue(rvRead);
        QCOMPARE(calls, QList<int>{5});
        calls.clear();
        rights[5].SetValue(rvRead); // an equal value notifies nobody
        QVERIFY(calls.isEmpty());
        rights.AssignFromString(QStringLiteral("01"));
        // Clearing right 5, setting right 2, then one call with null at the end.
        QCOMPARE(calls, (QList<int>{5, 2, -1}));
        calls.clear();
        rights.BeginUpdate();
        rights.AddFromString(QStringLiteral("1"));
        rights.EndUpdate();
        QCOMPARE(calls, (QList<int>{1, -1}));
        calls.clear();
        rights.Clear();
        QCOMPARE(calls, (QList<int>{1, 2, -1}));
    }

    void failingHandlerEndsTheUpdate() {
        TRights rights;
        rights.SetOnChange([](TRight* right) {
            if (right != nullptr && right->Position() == 2)
                throw Exception(QStringLiteral("handler"));
        });
        QVERIFY_THROWS_EXCEPTION(Exception, rights.AssignFromString(QStringLiteral("11")));
        // The update ended despite the error: the next one notifies at its end.
        int ends = 0;
        rights.SetOnChange([&ends](TRight* right) { ends += right == nullptr; });
        rights.Clear();
        QCOMPARE(ends, 1);
    }
};

QTEST_GUILESS_MAIN(TestRights)
#include "tst_Rights.moc"
