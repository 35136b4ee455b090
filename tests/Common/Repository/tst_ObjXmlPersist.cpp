// ctest-label: unit
#include "Common/Repository/ObjXmlPersist.h"
#include "Common/Repository/Repository.h"
#include "Common/Repository/ValueText.h"
#include "Support/TempAppData.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>

// ---- a settings object with a member of every kind

enum TColour { clRed, clGreen, clBlue };
const TEnumTypeInfo& EnumTypeInfoOf(TColour) {
    static const TEnumTypeInfo info{
        QStringLiteral("TColour"),
        {QStringLiteral("clRed"), QStringLiteral("clGreen"), QStringLiteral("clBlue")}};
    return info;
}

class TSubSettings : public TPersistent {
public:
    QString Name() const { return FName; }
    void SetName(const QString& v) { FName = v; }
    int Level() const { return FLevel; }
    void SetLevel(int v) { FLevel = v; }

    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TSubSettings>(QStringLiteral("TSubSettings"), nullptr)
                .Property(QStringLiteral("Name"), &TSubSettings::Name, &TSubSettings::SetName,
                          PersistMember{})
                .Property(QStringLiteral("Level"), &TSubSettings::Level, &TSubSettings::SetLevel,
                          PersistMember{})
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

private:
    QString FName = QStringLiteral("sub");
    int FLevel = 1;
};

class TSettings : public TPersistent {
public:
    int Count() const { return FCount; }
    void SetCount(int v) { FCount = v; }
    quint16 Port() const { return FPort; }
    void SetPort(quint16 v) { FPort = v; }
    QString Title() const { return FTitle; }
    void SetTitle(const QString& v) { FTitle = v; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool v) { FEnabled = v; }
    TColour Colour() const { return FColour; }
    void SetColour(TColour v) { FColour = v; }
    double Ratio() const { return FRatio; }
    void SetRatio(double v) { FRatio = v; }
    TDateTime Stamp() const { return FStamp; }
    void SetStamp(TDateTime v) { FStamp = v; }
    TDateTime Day() const { return FDay; }
    void SetDay(TDateTime v) { FDay = v; }
    TDateTime Clock() const { return FClock; }
    void SetClock(TDateTime v) { FClock = v; }
    QString Unmarked() const { return FUnmarked; }
    void SetUnmarked(const QString& v) { FUnmarked = v; }
    QString LoadOnly() const { return FLoadOnly; }
    void SetLoadOnly(const QString& v) { FLoadOnly = v; }
    QString Computed() const { return FTitle + QStringLiteral("!"); }
    TSubSettings* Sub() { return &FSub; }

    int FField = 0;

    static const TPersistClass& StaticClass() {
        using S = TSettings;
        const PersistMember persist;
        static const TPersistClass& cls =
            TClassBuilder<S>(QStringLiteral("TSettings"), nullptr)
                .Mark(PersistVersion{QStringLiteral("2.0")})
                .Property(QStringLiteral("Count"), &S::Count, &S::SetCount, persist)
                .Property(QStringLiteral("Port"), &S::Port, &S::SetPort, persist)
                .Property(QStringLiteral("Title"), &S::Title, &S::SetTitle, persist)
                .Property(QStringLiteral("Enabled"), &S::Enabled, &S::SetEnabled, persist)
                .Property(QStringLiteral("Colour"), &S::Colour, &S::SetColour, persist)
                .Property(QStringLiteral("Ratio"), &S::Ratio, &S::SetRatio, persist)
                .Property(QStringLiteral("Stamp"), &S::Stamp, &S::SetStamp, persist)
                .Property(QStringLiteral("Day"), &S::Day, &S::SetDay, persist, TFloatType::ftDate)
                .Property(QStringLiteral("Clock"), &S::Clock, &S::SetClock, persist,
                          TFloatType::ftTime)
                .Property(QStringLiteral("Unmarked"), &S::Unmarked, &S::SetUnmarked)
                .Property(QStringLiteral("LoadOnly"), &S::LoadOnly, &S::SetLoadOnly,
                          PersistMember{false, true})
                .ReadOnlyProperty(QStringLiteral("Computed"), &S::Computed, persist)
                .ObjectProperty<TSubSettings>(QStringLiteral("Sub"), &S::Sub, persist)
                .Field(QStringLiteral("Field"), &S::FField, persist)
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

private:
    int FCount = 7;
    quint16 FPort = 22;
    QString FTitle = QStringLiteral("default");
    bool FEnabled = true;
    TColour FColour = clGreen;
    double FRatio = 0;
    TDateTime FStamp;
    TDateTime FDay;
    TDateTime FClock;
    QString FUnmarked = QStringLiteral("keep");
    QString FLoadOnly;
    TSubSettings FSub;
};

// ---- nested lists: a store of boxes of things (the shape of a package catalogue)

class TThing : public TItem {
public:
    int Weight() const { return FWeight; }
    void SetWeight(int v) {
        if (v == FWeight)
            return;
        FWeight = v;
        Changed();
    }
    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TThing>(QStringLiteral("TThing"), &TItem::StaticClass())
                .Mark(PersistVersion{QStringLiteral("1.0")})
                .Property(QStringLiteral("Id"), &TThing::Id, &TThing::SetId, PersistMember{})
                .Property(QStringLiteral("Weight"), &TThing::Weight, &TThing::SetWeight,
                          PersistMember{})
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TThing() = default;

private:
    int FWeight = 0;
};

class TBox : public TItemList {
public:
    const TItemClass& GetItemClass() const override { return ClassOf<TThing>(); }
    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TBox>(QStringLiteral("TBox"), &TItemList::StaticClass())
                .Mark(PersistEnumerator{})
                .Mark(PersistVersion{QStringLiteral("1.0")})
                .Property(QStringLiteral("Id"), &TBox::Id, &TBox::SetId, PersistMember{})
                .List(QStringLiteral("TThingEnumerator"), &TThing::StaticClass,
                      &TBox::GetEnumerator, &TBox::GetFactory)
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TBox() = default;
};

class TStore : public TRepository {
public:
    const TItemClass& GetItemClass() const override { return ClassOf<TBox>(); }
    QString GetFileName() const override {
        return TRepository::GetFileName() + QStringLiteral("Store.xml");
    }
    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TStore>(QStringLiteral("TStore"), &TRepository::StaticClass())
                .Mark(PersistEnumerator{})
                .List(QStringLiteral("TBoxEnumerator"), &TBox::StaticClass, &TStore::GetEnumerator,
                      &TStore::GetFactory)
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TStore() = default;
};

namespace {

QByteArray SaveToBytes(TPersistent& object) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TObjXmlPersist engine;
    engine.SaveToStream(object, buffer);
    return buffer.data();
}

void LoadFromBytes(TPersistent& object, const QByteArray& data) {
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    TObjXmlPersist engine;
    engine.LoadFromStream(object, buffer);
}

QByteArray SettingsDoc(const QByteArray& inner, const QByteArray& root = "TSettings") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root + ">" + inner + "</" + root +
           ">\n";
}

} // namespace

class TestObjXmlPersist : public QObject {
    Q_OBJECT
private slots:
    void roundTripEveryKind() {
        TSettings a;
        a.SetCount(-42);
        a.SetPort(65535);
        a.SetTitle(QStringLiteral("Árvíztűrő <tükörfúrógép> & \"idézet\""));
        a.SetEnabled(false);
        a.SetColour(clBlue);
        a.SetRatio(1.5);
        a.SetStamp(TDateTime::FromDateAndTime(QDate(2012, 3, 7), QTime(14, 5, 9)));
        a.SetDay(TDateTime::EncodeDate(2020, 2, 29));
        a.SetClock(TDateTime::EncodeTime(23, 59, 58));
        a.SetUnmarked(QStringLiteral("changed"));
        a.SetLoadOnly(QStringLiteral("not written"));
        a.Sub()->SetName(QStringLiteral("inner"));
        a.Sub()->SetLevel(9);
        a.FField = 5;
        const QByteArray doc = SaveToBytes(a);

        TSettings b;
        LoadFromBytes(b, doc);
        QCOMPARE(b.Count(), -42);
        QCOMPARE(b.Port(), quint16(65535));
        QCOMPARE(b.Title(), a.Title());
        QCOMPARE(b.Enabled(), false);
        QCOMPARE(b.Colour(), clBlue);
        QCOMPARE(b.Ratio(), 1.5);
        QCOMPARE(b.Stamp(), a.Stamp());
        QCOMPARE(b.Day(), a.Day());
        QCOMPARE(b.Clock(), a.Clock());
        QCOMPARE(b.Sub()->Name(), QStringLiteral("inner"));
        QCOMPARE(b.Sub()->Level(), 9);
        QCOMPARE(b.FField, 5);
        // Members without the mark, or not saved, keep their defaults.
        QCOMPARE(b.Unmarked(), QStringLiteral("keep"));
        QCOMPARE(b.LoadOnly(), QString());
        QVERIFY(!doc.contains("Unmarked"));
        QVERIFY(!doc.contains("LoadOnly"));
        QVERIFY(!doc.contains("Computed")); // read-only properties are not persisted
    }

    void documentShape() {
        TSettings a;
        const QByteArray doc = SaveToBytes(a);
        QVERIFY(doc.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TSettings "
                               "version=\"2.0\">\n"));
        // Fields come before properties; members in declaration order.
        const qsizetype field = doc.indexOf("<Field>");
        const qsizetype count = doc.indexOf("<Count>");
        const qsizetype sub = doc.indexOf("<Sub>");
        QVERIFY(field > 0 && field < count && count < sub);
        QVERIFY(doc.contains("<Stamp/>")); // a date-time of 0 is an empty element
        QVERIFY(doc.contains("<Enabled>True</Enabled>"));
        QVERIFY(doc.contains("<Colour>clGreen</Colour>"));
        // The declaration and the root element carry "version", nothing else.
        QCOMPARE(doc.count("version="), 2);
    }

    void readingRules_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("missing members keep defaults")
            << SettingsDoc("<Count>3</Count>") << 3 << "default" << true;
        QTest::newRow("unknown elements and attributes ignored")
            << SettingsDoc("<Nothing a=\"1\">x</Nothing><Count b=\"2\">4</Count>") << 4 << "default"
            << true;
        QTest::newRow("order does not matter")
            << SettingsDoc("<Title>t</Title><Enabled>False</Enabled><Count>5</Count>") << 5 << "t"
            << false;
        QTest::newRow("boolean in lower case")
            << SettingsDoc("<Enabled>false</Enabled>") << 7 << "default" << false;
        QTest::newRow("any version reads the same")
            << SettingsDoc("<Count>6</Count>", "TSettings version=\"9.9\"")
                   .replace("</TSettings version=\"9.9\">", "</TSettings>")
            << 6 << "default" << true;
        QTest::newRow("foreign root reads nothing")
            << QByteArray("<?xml version=\"1.0\"?><TOther><Count>1</Count></TOther>") << 7
            << "default" << true;
        QTest::newRow("byte-order mark")
            << QByteArray("\xEF\xBB\xBF") + SettingsDoc("<Title>bom</Title>") << 7 << "bom" << true;
        QTest::newRow("text as is, blanks kept")
            << SettingsDoc("<Title>  two  words </Title>") << 7 << "  two  words " << true;
        QTest::newRow("empty text element") << SettingsDoc("<Title></Title>") << 7 << "" << true;
        QTest::newRow("numbers with layout around them")
            << SettingsDoc("<Count>\n   12\n</Count>") << 12 << "default" << true;
    }
    void readingRules() {
        QFETCH(QByteArray, document);
        QFETCH(int, count);
        QFETCH(QString, title);
        QFETCH(bool, enabled);
        TSettings s;
        LoadFromBytes(s, document);
        QCOMPARE(s.Count(), count);
        QCOMPARE(s.Title(), title);
        QCOMPARE(s.Enabled(), enabled);
    }

    void conversionErrors_data() {
        QTest::addColumn<QByteArray>("inner");
        QTest::newRow("empty integer") << QByteArray("<Count/>");
        QTest::newRow("non-numeric integer") << QByteArray("<Count>12a</Count>");
        QTest::newRow("integer past 32 bits") << QByteArray("<Count>2147483648</Count>");
        QTest::newRow("port out of range") << QByteArray("<Port>65536</Port>");
        QTest::newRow("negative port") << QByteArray("<Port>-1</Port>");
        QTest::newRow("enumeration name unknown") << QByteArray("<Colour>clPurple</Colour>");
        QTest::newRow("enumeration by number") << QByteArray("<Colour>2</Colour>");
        QTest::newRow("boolean unknown") << QByteArray("<Enabled>yes</Enabled>");
        QTest::newRow("bad date-time") << QByteArray("<Stamp>13/45/2012</Stamp>");
        QTest::newRow("bad time") << QByteArray("<Clock>25:00:00</Clock>");
        QTest::newRow("bad float") << QByteArray("<Ratio>1,5</Ratio>");
    }
    void conversionErrors() {
        QFETCH(QByteArray, inner);
        TSettings s;
        // Members read before the bad one (fields come first) keep their new values.
        QVERIFY_THROWS_EXCEPTION(EConvertError,
                                 LoadFromBytes(s, SettingsDoc("<Field>3</Field>" + inner)));
        QCOMPARE(s.FField, 3);
        QCOMPARE(s.Colour(), clGreen);
        QCOMPARE(s.Port(), quint16(22));
    }

    void malformedDocument_data() {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not XML") << QByteArray("this is not xml");
        QTest::newRow("truncated") << SettingsDoc("<Count>3</Count>").left(60);
    }
    void malformedDocument() {
        QFETCH(QByteArray, document);
        TSettings s;
        QVERIFY_THROWS_EXCEPTION(EXmlParseError, LoadFromBytes(s, document));
        QCOMPARE(s.Count(), 7);
    }

    void blankTextSurvives() {
        TSettings a;
        a.SetTitle(QStringLiteral("   "));
        TSettings b;
        LoadFromBytes(b, SaveToBytes(a));
        QCOMPARE(b.Title(), QStringLiteral("   "));
    }

    void textThatXmlCannotCarryIsRejected() {
        TSettings a;
        a.SetTitle(QStringLiteral("bell\x07"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, SaveToBytes(a));
    }

    void streamVersion() {
        TSettings s;
        QBuffer buffer;
        buffer.setData(SettingsDoc("<Count>1</Count>", "TSettings version=\"9.9\"")
                           .replace("</TSettings version=\"9.9\">", "</TSettings>"));
        buffer.open(QIODevice::ReadOnly);
        TObjXmlPersist engine;
        engine.LoadFromStream(s, buffer);
        // The document is gone after the call: nothing is cached.
        QCOMPARE(engine.XmlDoc(), nullptr);
        QCOMPARE(engine.ReadStreamVersion(TSettings::StaticClass()), QString());
    }

    // ---- text forms

    void dateTimeText_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const auto at = [](int h, int n, int s, int ms = 0) {
            return TDateTime::FromDateAndTime(QDate(2012, 3, 7), QTime(h, n, s, ms)).Value();
        };
        QTest::newRow("midnight has no time") << at(0, 0, 0) << "3/7/2012";
        QTest::newRow("afternoon") << at(14, 5, 9) << "3/7/2012 2:05:09 PM";
        QTest::newRow("half past midnight") << at(0, 30, 0) << "3/7/2012 12:30:00 AM";
        QTest::newRow("noon") << at(12, 0, 0) << "3/7/2012 12:00:00 PM";
        QTest::newRow("milliseconds are dropped") << at(14, 5, 9, 600) << "3/7/2012 2:05:09 PM";
        QTest::newRow("zero is empty") << 0.0 << "";
        QTest::newRow("negative is empty") << -3.25 << "";
        QTest::newRow("epoch day afternoon") << 0.75 << "12/30/1899 6:00:00 PM";
    }
    void dateTimeText() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(ValueText::DateTimeToText(TDateTime(value)), text);
        // Read back to the second.
        const TDateTime back = ValueText::TextToDateTime(text);
        if (value <= 0)
            QCOMPARE(back.Value(), 0.0);
        else
            QCOMPARE(back.ToDateTime(),
                     TDateTime(value).ToDateTime().addMSecs(-TDateTime(value).Time().msec()));
    }

    void dateTimeParsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("lower-case pm")
            << "3/7/2012 2:05:09 pm" << QDateTime(QDate(2012, 3, 7), QTime(14, 5, 9));
        QTest::newRow("24-hour clock")
            << "3/7/2012 14:05" << QDateTime(QDate(2012, 3, 7), QTime(14, 5, 0));
        QTest::newRow("12 AM") << "3/7/2012 12:00:01 AM"
                               << QDateTime(QDate(2012, 3, 7), QTime(0, 0, 1));
        QTest::newRow("surrounding blanks")
            << "  03/07/2012  " << QDateTime(QDate(2012, 3, 7), QTime(0, 0));
    }
    void dateTimeParsing() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        QCOMPARE(ValueText::TextToDateTime(text).ToDateTime(), expected);
    }

    void badDateTimeTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("month 13") << "13/1/2012";
        QTest::newRow("February 30") << "2/30/2012";
        QTest::newRow("13 PM") << "3/7/2012 13:00:00 PM";
        QTest::newRow("words") << "yesterday";
        QTest::newRow("ISO") << "2012-03-07";
    }
    void badDateTimeTexts() {
        QFETCH(QString, text);
        QVERIFY_THROWS_EXCEPTION(EConvertError, ValueText::TextToDateTime(text));
    }

    void dateAndTimeOnly() {
        const TDateTime day = TDateTime::EncodeDate(2020, 2, 29);
        QCOMPARE(ValueText::DateToText(day), QStringLiteral("2/29/2020"));
        QCOMPARE(ValueText::TextToDate(QStringLiteral("2/29/2020")), day);
        const TDateTime clock = TDateTime::EncodeTime(14, 5, 9);
        QCOMPARE(ValueText::TimeToText(clock), QStringLiteral("2:05:09 PM"));
        QCOMPARE(ValueText::TextToTime(QStringLiteral("2:05:09 PM")), clock);
        QCOMPARE(ValueText::TimeToText(TDateTime()), QString());
        QCOMPARE(ValueText::TextToTime(QString()), TDateTime());
    }

    void floatText() {
        QCOMPARE(ValueText::FloatToText(1.5), QStringLiteral("1.5"));
        QCOMPARE(ValueText::FloatToText(0.1), QStringLiteral("0.1"));
        QCOMPARE(ValueText::FloatToText(1.0 / 3), QStringLiteral("0.333333333333333"));
        QCOMPARE(ValueText::TextToFloat(QStringLiteral("2.25")), 2.25);
        QCOMPARE(ValueText::TextToFloat(QString()), 0.0);
    }

    void dateTimeValueType() {
        QCOMPARE(TDateTime::EncodeDate(1899, 12, 30).Value(), 0.0);
        QCOMPARE(TDateTime::EncodeDate(1900, 1, 1).Value(), 2.0);
        QCOMPARE(TDateTime::FromDateAndTime(QDate(1900, 1, 1), QTime(12, 0)).Value(), 2.5);
        // Before the epoch the fraction still counts forward from midnight.
        const TDateTime before(-1.25);
        QCOMPARE(before.Date(), QDate(1899, 12, 29));
        QCOMPARE(before.Time(), QTime(6, 0));
        QCOMPARE(TDateTime::FromDateAndTime(QDate(1899, 12, 29), QTime(6, 0)), before);
        // A fraction that rounds to a whole day moves to the next day.
        const TDateTime almost(2.0 - 1e-10);
        QCOMPARE(almost.Date(), QDate(1900, 1, 1));
        QCOMPARE(almost.Time(), QTime(0, 0));
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(qAbs(TDateTime::FromDateTime(now).ToDateTime().msecsTo(now)) <= 1);
    }

    void displayForms() {
        // The user's own regional settings, here Hungarian.
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
        const TPersistClass& cls = TSettings::StaticClass();
        const TPersistMember& stamp = *cls.FindMember(QStringLiteral("Stamp"));
        const TPersistMember& clock = *cls.FindMember(QStringLiteral("Clock"));
        const TPersistMember& ratio = *cls.FindMember(QStringLiteral("Ratio"));
        const TPersistMember& count = *cls.FindMember(QStringLiteral("Count"));
        const TPersistMember& colour = *cls.FindMember(QStringLiteral("Colour"));
        const QString day = QLocale().toString(QDate(2012, 3, 7), QLocale::ShortFormat);
        TSettings s;
        QCOMPARE(StringValue::GetValue(stamp, s), QString()); // zero shows empty
        s.SetStamp(TDateTime::FromDateAndTime(QDate(2012, 3, 7), QTime(14, 5, 9)));
        const QString shown = StringValue::GetValue(stamp, s);
        QCOMPARE(shown, day + QStringLiteral(" 14:05:09"));
        StringValue::SetValue(stamp, s, QString());
        QCOMPARE(s.Stamp(), TDateTime());
        StringValue::SetValue(stamp, s, shown);
        QCOMPARE(s.Stamp().ToDateTime(), QDateTime(QDate(2012, 3, 7), QTime(14, 5, 9)));
        StringValue::SetValue(stamp, s, day);
        QCOMPARE(StringValue::GetValue(stamp, s), day); // midnight shows the date only
        QVERIFY_THROWS_EXCEPTION(EConvertError,
                                 StringValue::SetValue(stamp, s, QStringLiteral("3/7/2012")));
        s.SetClock(TDateTime::EncodeTime(9, 5, 0));
        QCOMPARE(StringValue::GetValue(clock, s), QStringLiteral("9:05:00"));
        StringValue::SetValue(clock, s, QStringLiteral("23:00:01"));
        QCOMPARE(s.Clock(), TDateTime::EncodeTime(23, 0, 1));
        s.SetRatio(1.5);
        QCOMPARE(StringValue::GetValue(ratio, s), QStringLiteral("1,5"));
        StringValue::SetValue(ratio, s, QStringLiteral("2,25"));
        QCOMPARE(s.Ratio(), 2.25);
        StringValue::SetValue(count, s, QStringLiteral("12"));
        QCOMPARE(s.Count(), 12);
        QVERIFY_THROWS_EXCEPTION(EConvertError, StringValue::SetValue(count, s, QString()));
        QCOMPARE(StringValue::GetValue(colour, s), QStringLiteral("clGreen"));
        QLocale::setDefault(saved);
    }

    // ---- lists

    void nestedListsRoundTrip() {
        TTempAppData data;
        QVERIFY(data.IsValid());
        auto store = TItem::Create<TStore>();
        store->SetAutoSave(false);
        for (int b = 1; b <= 2; ++b) {
            TBox* box = TItem::Create<TBox>(store.get());
            box->SetId(QStringLiteral("box%1").arg(b));
            for (int t = 1; t <= 3; ++t) {
                TThing* thing = TItem::Create<TThing>(box);
                thing->SetId(QStringLiteral("thing%1").arg(t));
                thing->SetWeight(b * 10 + t);
            }
        }
        store->Save();
        const QByteArray doc = ReadWholeFile(data.FilePath(QStringLiteral("Store.xml")));
        QVERIFY(doc.contains("<TStore>\n  <TBoxEnumerator>\n    <TBox version=\"1.0\">\n"));
        QVERIFY(doc.contains("<TThingEnumerator>\n        <TThing version=\"1.0\">"));

        auto loaded = TItem::Create<TStore>();
        loaded->Load();
        QCOMPARE(loaded->Count(), 2);
        auto* box2 = dynamic_cast<TBox*>(loaded->Find(QStringLiteral("box2")));
        QVERIFY(box2 != nullptr);
        QCOMPARE(box2->Count(), 3);
        QCOMPARE(static_cast<TThing*>(box2->Find(QStringLiteral("thing3")))->Weight(), 23);
        // Saving what was loaded gives the same document.
        loaded->Save();
        QCOMPARE(ReadWholeFile(data.FilePath(QStringLiteral("Store.xml"))), doc);
    }

    void changesReachTheRepositoryThroughNestedLists() {
        TTempAppData data;
        auto store = TItem::Create<TStore>();
        TBox* box = TItem::Create<TBox>(store.get());
        TThing* thing = TItem::Create<TThing>(box);
        int saves = 0;
        TObjPersist::SetBeforeCommitHook([&saves](const QString&) { ++saves; });
        thing->SetWeight(5);
        thing->SetWeight(5);
        TObjPersist::SetBeforeCommitHook({});
        QCOMPARE(saves, 1);
        QVERIFY(ReadWholeFile(data.FilePath(QStringLiteral("Store.xml")))
                    .contains("<Weight>5</Weight>"));
    }

    void listReadingRules_data() {
        QTest::addColumn<QByteArray>("items");
        QTest::addColumn<QStringList>("ids");
        const QByteArray a = "<TBox><Id>a</Id></TBox>";
        const QByteArray b = "<TBox><Id>b</Id></TBox>";
        QTest::newRow("two items") << a + b << QStringList{"a", "b"};
        QTest::newRow("layout between items") << "\n  " + a + "\n\n  " + b + "\n"
                                              << QStringList{"a", "b"};
        QTest::newRow("a comment ends the list") << a + "<!-- stop -->" + b << QStringList{"a"};
        QTest::newRow("a foreign element ends the list")
            << a + "<TThing><Id>x</Id></TThing>" + b << QStringList{"a"};
        QTest::newRow("an element named in other letter case ends the list")
            << a + "<tbox><Id>x</Id></tbox>" + b << QStringList{"a"};
        QTest::newRow("text ends the list") << a + "words" + b << QStringList{"a"};
        QTest::newRow("no items") << QByteArray() << QStringList{};
    }
    void listReadingRules() {
        QFETCH(QByteArray, items);
        QFETCH(QStringList, ids);
        auto store = TItem::Create<TStore>();
        store->SetAutoSave(false);
        LoadFromBytes(*store, "<TStore><TBoxEnumerator>" + items + "</TBoxEnumerator></TStore>");
        QStringList got;
        for (TItem* item : *store)
            got << item->Id();
        QCOMPARE(got, ids);
    }

    void itemThatFailsLeavesTheList() {
        auto store = TItem::Create<TStore>();
        store->SetAutoSave(false);
        TBox* box = TItem::Create<TBox>(store.get());
        box->SetId(QStringLiteral("box"));
        const QByteArray doc = "<TBox><TThingEnumerator>"
                               "<TThing><Id>good</Id><Weight>1</Weight></TThing>"
                               "<TThing><Id>bad</Id><Weight>heavy</Weight></TThing>"
                               "<TThing><Id>late</Id><Weight>3</Weight></TThing>"
                               "</TThingEnumerator></TBox>";
        QVERIFY_THROWS_EXCEPTION(EConvertError, LoadFromBytes(*box, doc));
        QCOMPARE(box->Count(), 1);
        TItem* found = nullptr;
        QVERIFY(box->Find(QStringLiteral("good"), found));
        QVERIFY(!box->Find(QStringLiteral("bad"), found));
    }

    // ---- files

    void saveCreatesFolders() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a/b/c/Settings.xml"));
        TSettings a;
        a.SetCount(11);
        TObjPersist::Save(a, file);
        TSettings b;
        TObjPersist::Load(b, file);
        QCOMPARE(b.Count(), 11);
    }

    void loadOfMissingFileChangesNothing() {
        QTemporaryDir dir;
        TSettings s;
        s.SetCount(99);
        TObjPersist::Load(s, dir.filePath(QStringLiteral("none.xml")));
        QCOMPARE(s.Count(), 99);
    }

    void folderThatCannotBeMade() {
        QTemporaryDir dir;
        WriteWholeFile(dir.filePath(QStringLiteral("blocker")), "file");
        TSettings s;
        QVERIFY_THROWS_EXCEPTION(
            EOSError, TObjPersist::Save(s, dir.filePath(QStringLiteral("blocker/x/Settings.xml"))));
    }

    void failedSaveKeepsOldFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Settings.xml"));
        TSettings a;
        a.SetTitle(QStringLiteral("old"));
        TObjPersist::Save(a, file);
        const QByteArray before = ReadWholeFile(file);
        a.SetTitle(QStringLiteral("bad\x01"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, TObjPersist::Save(a, file));
        QCOMPARE(ReadWholeFile(file), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("Settings.xml")});
    }

    void crashBetweenWriteAndRename() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Settings.xml"));
        TSettings a;
        a.SetTitle(QStringLiteral("old"));
        TObjPersist::Save(a, file);
        const QByteArray before = ReadWholeFile(file);

        QProcess helper;
        helper.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--save-and-hang"), file});
        QVERIFY(helper.waitForStarted());
        QVERIFY(helper.waitForReadyRead(20000));
        QCOMPARE(helper.readLine().trimmed(), QByteArray("written"));
        // The new document is complete on disk but not yet in place.
        QCOMPARE(ReadWholeFile(file), before);
        helper.kill();
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);

        QCOMPARE(ReadWholeFile(file), before);
        TSettings b;
        TObjPersist::Load(b, file);
        QCOMPARE(b.Title(), QStringLiteral("old"));
    }

    void commitHookSeesEverySave() {
        QTemporaryDir dir;
        int saves = 0;
        TObjPersist::SetBeforeCommitHook([&saves](const QString&) { ++saves; });
        TSettings a;
        TObjPersist::Save(a, dir.filePath(QStringLiteral("s.xml")));
        TObjPersist::Save(a, dir.filePath(QStringLiteral("s.xml")));
        TObjPersist::SetBeforeCommitHook({});
        QCOMPARE(saves, 2);
    }
};

// The crash helper: saves a document and stops for good between writing the
// temporary file and renaming it, until the test kills it.
static int SaveAndHang(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TSettings s;
    s.SetTitle(QStringLiteral("new"));
    TObjPersist::SetBeforeCommitHook([](const QString&) {
        std::fputs("written\n", stdout);
        std::fflush(stdout);
        QThread::sleep(60);
    });
    TObjPersist::Save(s, QString::fromLocal8Bit(argv[2]));
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 3 && qstrcmp(argv[1], "--save-and-hang") == 0)
        return SaveAndHang(argc, argv);
    QCoreApplication app(argc, argv);
    TestObjXmlPersist test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ObjXmlPersist.moc"
