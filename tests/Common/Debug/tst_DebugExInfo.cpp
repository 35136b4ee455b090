// ctest-label: unit
#include "Common/Debug/DebugExInfo.h"
#include "FakeDebuggee.h"
#include "Platform/Runtime/Exception.h"
#include "Support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace DebugApi;

namespace {
constexpr uint64_t kBase = 0x400000;
}

class TestDebugExInfo : public QObject {
    Q_OBJECT

    QTemporaryDir FDir;
    QString FProgram;

    struct TFixture {
        std::shared_ptr<TFakeDebuggee> Debuggee = std::make_shared<TFakeDebuggee>();
        TFakeProcessControl Control{Debuggee};
        std::unique_ptr<TDebugProcessInfo> Process;
        std::unique_ptr<TDebugThreadInfo> Thread;
        explicit TFixture(const QString& program) {
            Process = std::make_unique<TDebugProcessInfo>(program, &Control);
            Process->Start(100, 100, 100, kBase);
            Thread = std::make_unique<TDebugThreadInfo>(100, 100, 100, 0x7000, &Control);
        }
        void Collect(TDebugExInfo& info, uint32_t code, const QList<uint64_t>& params,
                     uint64_t address = 0x401000) {
            const TDebugEvent e = TFakeDebuggee::Exception(100, 100, code, params, address);
            info.CollectErrorInfo(Process.get(), Thread.get(), e.Exception);
        }
    };

private slots:
    void initTestCase() {
        QVERIFY(FDir.isValid());
        // A program with the test map beside it.
        FProgram = FDir.filePath(QStringLiteral("Tarvolin.exe"));
        QFile program(FProgram);
        QVERIFY(program.open(QIODevice::WriteOnly));
        QVERIFY(QFile::copy(TestDataPath(QStringLiteral("Debug/Demo.map")),
                            FDir.filePath(QStringLiteral("Tarvolin.map"))));
    }

    void languageException_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("runtime_error text")
            << QByteArray("Elkapott demó hiba") << QStringLiteral("Elkapott demó hiba");
        QTest::newRow("null text pointer") << QByteArray() << QString();
    }
    void languageException() {
        QFETCH(QByteArray, message);
        QFETCH(QString, expected);
        TFixture f(FProgram);
        const TScriptedThrow thrown =
            ScriptThrow(*f.Debuggee, message.isNull() ? nullptr : message.constData());
        TDebugExInfo info;
        f.Collect(info, LANGUAGE_EXCEPTION, {0x402000, thrown.Object, thrown.TypeInfo});
        QVERIFY(info.IsExternal());
        QCOMPARE(info.ErrorCode(), LANGUAGE_EXCEPTION);
        QCOMPARE(info.OrigClassName(), QStringLiteral("TDemoError"));
        QCOMPARE(info.OrigMessage(), expected);
        QVERIFY(info.OrigTitle().isEmpty());
    }

    void languageExceptionOutsideStandardErrors() {
        TFixture f(FProgram);
        // A thrown class that derives from std::exception only has no text.
        TScriptedThrow thrown = ScriptThrow(*f.Debuggee, "nem olvasandó", "N4Demo5OtherE");
        f.Debuggee->SetMemory(thrown.TypeInfo, Words({0x52100 + 8, 0x54000, 0}));
        TDebugExInfo info;
        f.Collect(info, LANGUAGE_EXCEPTION, {0, thrown.Object, thrown.TypeInfo});
        QCOMPARE(info.OrigClassName(), QStringLiteral("Demo.Other"));
        QVERIFY(info.OrigMessage().isEmpty());
        QVERIFY(info.IsExternal());
    }

    void unreadableMemoryRaises() {
        TFixture f(FProgram);
        TDebugExInfo info;
        QVERIFY_THROWS_EXCEPTION(EOSError,
                                 f.Collect(info, LANGUAGE_EXCEPTION, {0, 0xdead0000, 0xdead1000}));
    }

    void systemExceptions_data() {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("message");
        QTest::newRow("div") << 0xC0000094u << "EDivByZero"
                             << "Division by zero";
        QTest::newRow("range") << 0xC000008Cu << "ERangeError"
                               << "Range check error";
        QTest::newRow("overflow") << 0xC0000095u << "EIntOverflow"
                                  << "Integer overflow";
        QTest::newRow("inexact") << 0xC000008Fu << "EInvalidOp"
                                 << "Invalid floating point operation";
        QTest::newRow("invalid") << 0xC0000090u << "EInvalidOp"
                                 << "Invalid floating point operation";
        QTest::newRow("stack check") << 0xC0000092u << "EInvalidOp"
                                     << "Invalid floating point operation";
        QTest::newRow("zero divide") << 0xC000008Eu << "EZeroDivide"
                                     << "Floating point division by zero";
        QTest::newRow("fp overflow") << 0xC0000091u << "EOverflow"
                                     << "Floating point overflow";
        QTest::newRow("denormal") << 0xC000008Du << "EUnderflow"
                                  << "Floating point underflow";
        QTest::newRow("underflow") << 0xC0000093u << "EUnderflow"
                                   << "Floating point underflow";
        QTest::newRow("privilege") << 0xC0000096u << "EPrivilege"
                                   << "Privileged instruction";
        QTest::newRow("control-c") << 0xC000013Au << "EControlC"
                                   << "Control-C hit";
        QTest::newRow("stack") << 0xC00000FDu << "EStackOverflow"
                               << "Stack overflow";
        QTest::newRow("other") << 0xE06D7363u << "EExternalException"
                               << "External exception E06D7363";
        QTest::newRow("signal code") << 6u << "EExternalException"
                                     << "External exception 6";
        QTest::newRow("breakpoint") << 0x80000003u << "EExternalException"
                                    << "External exception 80000003";
    }
    void systemExceptions() {
        QFETCH(uint, code);
        QFETCH(QString, className);
        QFETCH(QString, message);
        TFixture f(FProgram);
        TDebugExInfo info;
        f.Collect(info, code, {});
        QCOMPARE(info.OrigClassName(), className);
        QCOMPARE(info.OrigMessage(), message);
        QVERIFY(info.IsExternal());
    }

    void runtimeNotificationsStayEmpty() {
        TFixture f(FProgram);
        TDebugExInfo info;
        f.Collect(info, 0x0EEDFAE0, {});
        QCOMPARE(info.ErrorType(), TExceptionInfo::etNone);
        QVERIFY(info.CallStack().isEmpty());
    }

    void accessViolation_data() {
        QTest::addColumn<uint>("kind");
        QTest::addColumn<bool>("inModule");
        QTest::addColumn<QString>("message");
        QTest::newRow("read in module")
            << 0u << true
            << "Access violation at address 00401000 in module 'Tarvolin.exe'. Read of address "
               "00000000";
        QTest::newRow("execution reads as write")
            << 8u << true
            << "Access violation at address 00401000 in module 'Tarvolin.exe'. Write of address "
               "00000000";
        QTest::newRow("generated code")
            << 1u << false << "Access violation at address 00401000. Write of address 00000000";
    }
    void accessViolation() {
        QFETCH(uint, kind);
        QFETCH(bool, inModule);
        QFETCH(QString, message);
        TFixture f(FProgram);
        TMemoryRegionInfo region;
        region.Start = 0x400000;
        region.End = 0x500000;
        region.Committed = true;
        region.ModuleFileName = inModule ? FProgram : QString();
        f.Debuggee->SetRegion(region);
        TDebugExInfo info;
        f.Collect(info, EXCEPTION_ACCESS_VIOLATION, {kind, 0});
        QCOMPARE(info.OrigClassName(), QStringLiteral("EAccessViolation"));
        QCOMPARE(info.OrigMessage(), message);
    }

    void callStackLines() {
        TFixture f(FProgram);
        f.Debuggee->SetStack(100, {0x7f001234, kBase + 0x2110, kBase + 0x2130, kBase + 0x9000});
        TDebugExInfo info;
        f.Collect(info, 6, {});
        // No executable with line tables: the line is 0, the source empty.
        QCOMPARE(info.CallStack(),
                 QStringList({"01: ismeretlen",
                              "02:  (0): (anonymous namespace)::RaiseFromStatic(char const*)",
                              "03:  (0): ThrowDemoError(char const*)", "04: ismeretlen"}));
        TLocationInfo location;
        QVERIFY(f.Process->GetLocationInfo(kBase + 0x2130, location));
        QCOMPARE(location.Address, kBase + 0x2130);
        QCOMPARE(location.UnitName, QStringLiteral("DemoScenarios"));
        QCOMPARE(location.OffsetFromProcName, 0x16);
        QCOMPARE(location.BinaryFileName, FProgram);
        QVERIFY(!f.Process->GetLocationInfo(0x1000, location));
        QCOMPARE(location.Address, uint64_t(0));
        QCOMPARE(location.LineNumber, -1);
        QCOMPARE(location.OffsetFromProcName, -1);
        QCOMPARE(location.BinaryFileName, FProgram);
    }

    void callStackNumbersGrowToThreeDigits() {
        TFixture f(FProgram);
        QList<uint64_t> trace;
        for (int i = 0; i < 101; ++i)
            trace.append(0x10);
        f.Debuggee->SetStack(100, trace);
        TDebugExInfo info;
        f.Collect(info, 6, {});
        QCOMPARE(info.CallStack().size(), 101);
        QCOMPARE(info.CallStack().at(8), QStringLiteral("09: ismeretlen"));
        QCOMPARE(info.CallStack().at(99), QStringLiteral("100: ismeretlen"));
    }

    void missingMapFileGivesUnknownLines() {
        const QString other = FDir.filePath(QStringLiteral("Masik"));
        QFile program(other);
        QVERIFY(program.open(QIODevice::WriteOnly));
        TFixture f(other);
        f.Debuggee->SetStack(100, {kBase + 0x2110});
        TDebugExInfo info;
        f.Collect(info, 6, {});
        QCOMPARE(info.CallStack(), QStringList({"01: ismeretlen"}));
    }

    void mapFileName_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("map");
        QTest::newRow("no extension") << "/a/b/Tarvolin"
                                      << "/a/b/Tarvolin.map";
        QTest::newRow("extension") << "/a/b/Tarvolin.exe"
                                   << "/a/b/Tarvolin.map";
        QTest::newRow("dotted folder") << "/a.b/Tarvolin"
                                       << "/a.b/Tarvolin.map";
        QTest::newRow("two dots") << "/a/T.v2.exe"
                                  << "/a/T.v2.map";
    }
    void mapFileName() {
        QFETCH(QString, program);
        QFETCH(QString, map);
        QCOMPARE(TDebugProcessInfo::MapFileName(program), map);
    }

    void imageIsCopied() {
        TDebugExInfo info;
        QVERIFY(info.Image().isNull());
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::red);
        info.SetImage(image);
        image.fill(Qt::blue);
        QCOMPARE(info.Image().size(), QSize(4, 3));
        QCOMPARE(info.Image().pixelColor(0, 0), QColor(Qt::red));
    }
};

QTEST_GUILESS_MAIN(TestDebugExInfo)
#include "tst_DebugExInfo.moc"
