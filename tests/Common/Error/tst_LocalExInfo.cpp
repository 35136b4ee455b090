// ctest-label: unit
#include "Common/Error/CustomException.h"
#include "Common/Error/LocalExInfo.h"

#include <QTest>

#include <stdexcept>

namespace {
__attribute__((noinline)) void RaiseConvertError() {
    throw EConvertError(QStringLiteral("Hibás szám"));
}
} // namespace

class TestLocalExInfo : public QObject {
    Q_OBJECT
private slots:
    void callStackOfTheLastThrow() {
        QVERIFY(IsRaiseTraceRecording());
        try {
            RaiseConvertError();
        } catch (const EConvertError& e) {
            TLocalExInfo info;
            info.SetExceptObject(&e);
            QCOMPARE(info.ErrorType(), TExceptionInfo::etNative);
            QVERIFY(info.HasCallStack());
            const QString first = info.CallStack().first();
            QVERIFY2(first.startsWith(QLatin1String("00: tst_LocalExInfo.cpp (")),
                     qPrintable(first));
            QVERIFY2(first.contains(QLatin1String("RaiseConvertError")), qPrintable(first));
            QVERIFY(info.CallStack().at(1).startsWith(QLatin1String("01: ")));
            QVERIFY(info.CallStack()
                        .join(QLatin1Char('\n'))
                        .contains(QLatin1String("callStackOfTheLastThrow")));
        }
    }

    void noErrorNoCallStack() {
        try {
            RaiseConvertError();
        } catch (const EConvertError&) {
            TLocalExInfo info;
            info.SetExceptObject(nullptr);
            QVERIFY(!info.HasCallStack());
        }
    }

    void recordingSwitchedOff() {
        try {
            RaiseConvertError();
        } catch (const EConvertError& e) {
            StopRaiseTraceRecording();
            TLocalExInfo info;
            info.SetExceptObject(&e);
            StartRaiseTraceRecording();
            QVERIFY(!info.HasCallStack());
        }
    }

    void standardLibraryThrowsAreRecorded() {
        try {
            std::string().at(3);
        } catch (const std::out_of_range& e) {
            TLocalExInfo info;
            info.SetExceptObject(&e);
            QVERIFY(info.HasCallStack());
            QVERIFY(info.CallStack()
                        .join(QLatin1Char('\n'))
                        .contains(QLatin1String("standardLibraryThrowsAreRecorded")));
        }
    }
};

QTEST_GUILESS_MAIN(TestLocalExInfo)
#include "tst_LocalExInfo.moc"
