// ctest-label: unit
#include "Common/Environments/Environments.h"
#include "Common/Repository/ObjXmlPersist.h"
#include "Common/Repository/Repository.h"
#include "Support/TempAppData.h"

#include <QPointer>
#include <QTest>

#include <functional>

// A note: an item whose kind starts with a vowel ("elem"), so the article
// rule gives "Az".
class TNote : public TItem {
public:
    QString GetDisplayName() const override { return QStringLiteral("elem"); }
    const QString& Text() const { return FText; }
    void SetText(const QString& v) {
        if (v == FText)
            return;
        FText = v;
        Changed();
    }
    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TNote>(QStringLiteral("TNote"), &TItem::StaticClass())
                .Mark(PersistVersion{QStringLiteral("1.0")})
                .Property(QStringLiteral("Id"), &TNote::Id, &TNote::SetId, PersistMember{})
                .Property(QStringLiteral("Text"), &TNote::Text, &TNote::SetText, PersistMember{})
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TNote() = default;

private:
    QString FText;
};

class TNotes : public TRepository {
public:
    const TItemClass& GetItemClass() const override { return ClassOf<TNote>(); }
    QString GetFileName() const override {
        return TRepository::GetFileName() + QStringLiteral("Notes.xml");
    }
    TNote* Add(const QString& id, const QString& text = QString()) {
        TNote* note = Create<TNote>(this);
        note->SetId(id);
        note->SetText(text);
        return note;
    }

    int LoadCalls = 0;
    std::function<void()> DuringLoad;

    static const TPersistClass& StaticClass() {
        static const TPersistClass& cls =
            TClassBuilder<TNotes>(QStringLiteral("TNotes"), &TRepository::StaticClass())
                .Mark(PersistEnumerator{})
                .Mark(PersistVersion{QStringLiteral("1.0")})
                .List(QStringLiteral("TNoteEnumerator"), &TNote::StaticClass,
                      &TNotes::GetEnumerator, &TNotes::GetFactory)
                .Register();
        return cls;
    }
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TNotes() = default;
    void DoLoad() override {
        ++LoadCalls;
        TRepository::DoLoad();
        if (DuringLoad)
            DuringLoad();
    }
};

namespace {

struct TErrorText {
    QString Title;
    QString Message;
};

template <class F> TErrorText CatchRepository(F f) {
    try {
        f();
    } catch (const ERepository& e) {
        return {e.Title(), e.Message()};
    }
    return {QStringLiteral("<no error>"), QString()};
}

QByteArray NotesFile(const QByteArray& items) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TNotes version=\"1.0\"><TNoteEnumerator>" +
           items + "</TNoteEnumerator></TNotes>\n";
}

QStringList Ids(const TItemList& list) {
    QStringList ids;
    for (TItem* item : list)
        ids << item->Id();
    return ids;
}

} // namespace

class TestRepository : public QObject {
    Q_OBJECT

    int FSaves = 0;
    std::unique_ptr<TSaveCountingAppData> FData;

private slots:
    void init() {
        FSaves = 0;
        FData = std::make_unique<TSaveCountingAppData>(FSaves);
        QVERIFY(FData->IsValid());
    }
    void cleanup() { FData.reset(); }

    void newItemDefaults() {
        auto notes = TItem::Create<TNotes>();
        TNote* note = TItem::Create<TNote>(notes.get());
        QCOMPARE(note->Id(), QStringLiteral("TNote"));
        QCOMPARE(note->Description(), QStringLiteral("TNote"));
        QCOMPARE(note->ItemOwner(), notes.get());
        QCOMPARE(note->parent(), notes.get());
        QCOMPARE(notes->Count(), 1);
        auto loose = TItem::Create<TNote>();
        QCOMPARE(loose->ItemOwner(), nullptr);
        QCOMPARE(loose->Id(), QStringLiteral("TNote"));
    }

    void identityErrors_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty, vowel") << "note empty"
                                      << "Az elem neve üres."
                                      << "Az elem nem lehet üres a neve.";
        QTest::newRow("empty, consonant") << "environment empty"
                                          << "A környezet neve üres."
                                          << "A környezet nem lehet üres a neve.";
        QTest::newRow("duplicate rename")
            << "note duplicate"
            << "Az elem neve nem egyedi."
            << "Az elem elnevezése egyedi kell legyen, \"first\" nevű elem már létezik.";
        QTest::newRow("duplicate environment")
            << "environment duplicate"
            << "A környezet neve nem egyedi."
            << "A környezet elnevezése egyedi kell legyen, \"Env1\" nevű elem már létezik.";
        QTest::newRow("joining a list that holds the identity")
            << "note join"
            << "Az elem neve nem egyedi."
            << "Az elem elnevezése egyedi kell legyen, \"first\" nevű elem már létezik.";
        QTest::newRow("not found")
            << "find"
            << "A TNotes nem található."
            << "A TNotes nem található, nincsen \"missing\" nevű elem a listában.";
        QTest::newRow("environment not found")
            << "find environment"
            << "A TEnvironments nem található."
            << "A TEnvironments nem található, nincsen \"Env9\" nevű elem a listában.";
        QTest::newRow("second new item before the first is renamed")
            << "second new"
            << "Az elem neve nem egyedi."
            << "Az elem elnevezése egyedi kell legyen, \"TNote\" nevű elem már létezik.";
    }
    void identityErrors() {
        QFETCH(QString, what);
        QFETCH(QString, title);
        QFETCH(QString, message);
        auto notes = TItem::Create<TNotes>();
        notes->SetAutoSave(false);
        TNote* first = notes->Add(QStringLiteral("first"));
        TNote* second = notes->Add(QStringLiteral("second"));
        auto envs = TItem::Create<TEnvironments>();
        envs->SetAutoSave(false);
        TEnvironment* env1 = TItem::Create<TEnvironment>(envs.get());
        TEnvironment* env2 = TItem::Create<TEnvironment>(envs.get());
        QCOMPARE(env2->Id(), QStringLiteral("Env2"));

        TErrorText error;
        if (what == QLatin1String("note empty"))
            error = CatchRepository([&] { first->SetId(QString()); });
        else if (what == QLatin1String("environment empty"))
            error = CatchRepository([&] { env1->SetId(QString()); });
        else if (what == QLatin1String("note duplicate"))
            error = CatchRepository([&] { second->SetId(QStringLiteral("first")); });
        else if (what == QLatin1String("environment duplicate"))
            error = CatchRepository([&] { env2->SetId(QStringLiteral("Env1")); });
        else if (what == QLatin1String("note join")) {
            auto other = TItem::Create<TNotes>();
            other->SetAutoSave(false);
            TNote* stranger = other->Add(QStringLiteral("first"));
            error = CatchRepository([&] { stranger->SetItemOwner(notes.get()); });
            QCOMPARE(stranger->ItemOwner(), other.get());
            QCOMPARE(Ids(*other), QStringList{QStringLiteral("first")});
        } else if (what == QLatin1String("find"))
            error = CatchRepository([&] { notes->Find(QStringLiteral("missing")); });
        else if (what == QLatin1String("find environment"))
            error = CatchRepository([&] { envs->Find(QStringLiteral("Env9")); });
        else if (what == QLatin1String("second new")) {
            TItem::Create<TNote>(notes.get());
            error = CatchRepository([&] { TItem::Create<TNote>(notes.get()); });
            QCOMPARE(notes->Count(), 3);
            QCOMPARE(notes->children().size(), 3);
        }
        QCOMPARE(error.Title, title);
        QCOMPARE(error.Message, message);
        // A rejected identity changes nothing.
        QCOMPARE(first->Id(), QStringLiteral("first"));
        QCOMPARE(second->Id(), QStringLiteral("second"));
        QCOMPARE(notes->Find(QStringLiteral("first")), first);
        QCOMPARE(notes->Find(QStringLiteral("second")), second);
        QCOMPARE(env1->Id(), QStringLiteral("Env1"));
        QCOMPARE(envs->Find(QStringLiteral("Env2")), env2);
    }

    void failedSetUpLeavesNoTraceInTheFile() {
        auto notes = TItem::Create<TNotes>();
        notes->Add(QStringLiteral("a"));
        TItem::Create<TNote>(notes.get()); // still named "TNote"
        // The next one joins (and is saved), then fails to take its class name.
        QVERIFY_THROWS_EXCEPTION(ERepository, TItem::Create<TNote>(notes.get()));
        QCOMPARE(notes->Count(), 2);
        auto reread = TItem::Create<TNotes>();
        reread->Load();
        QCOMPARE(Ids(*reread), Ids(*notes));
    }

    void identityIsCaseSensitive() {
        auto notes = TItem::Create<TNotes>();
        notes->SetAutoSave(false);
        TNote* upper = notes->Add(QStringLiteral("Env1"));
        TNote* lower = notes->Add(QStringLiteral("env1"));
        QCOMPARE(notes->Count(), 2);
        TItem* found = nullptr;
        QVERIFY(notes->Find(QStringLiteral("env1"), found));
        QCOMPARE(found, lower);
        QVERIFY(notes->Find(QStringLiteral("Env1"), found));
        QCOMPARE(found, upper);
        QVERIFY(!notes->Find(QStringLiteral("ENV1"), found));
    }

    void looseItemRenames() {
        auto note = TItem::Create<TNote>();
        note->SetId(QStringLiteral("anything at all"));
        QCOMPARE(note->Id(), QStringLiteral("anything at all"));
        QVERIFY_THROWS_EXCEPTION(ERepository, note->SetId(QString()));
        QCOMPARE(note->Id(), QStringLiteral("anything at all"));
    }

    void renameKeepsIndex() {
        auto notes = TItem::Create<TNotes>();
        notes->SetAutoSave(false);
        TNote* a = notes->Add(QStringLiteral("a"));
        notes->Add(QStringLiteral("b"));
        a->SetId(QStringLiteral("c"));
        TItem* found = nullptr;
        QVERIFY(!notes->Find(QStringLiteral("a"), found));
        QCOMPARE(notes->Find(QStringLiteral("c")), a);
        QCOMPARE(Ids(*notes), (QStringList{QStringLiteral("c"), QStringLiteral("b")}));
    }

    void automaticSave() {
        auto notes = TItem::Create<TNotes>();
        QCOMPARE(FSaves, 0); // creating the repository writes nothing
        const QString file = FData->FilePath(QStringLiteral("Notes.xml"));
        TNote* note = TItem::Create<TNote>(notes.get());
        // Joining, then the class name as description (the identity is the
        // class name already when it joins).
        QVERIFY(FSaves >= 1);
        QVERIFY(QFile::exists(file));
        FSaves = 0;
        note->SetId(QStringLiteral("n1"));
        QCOMPARE(FSaves, 1);
        note->SetText(QStringLiteral("hello"));
        QCOMPARE(FSaves, 2);
        QVERIFY(ReadWholeFile(file).contains("<Text>hello</Text>"));
        // Equal values neither notify nor save.
        note->SetId(QStringLiteral("n1"));
        note->SetText(QStringLiteral("hello"));
        note->SetDescription(note->Description());
        QCOMPARE(FSaves, 2);
        // Destroying an item does not save.
        delete note;
        QCOMPARE(FSaves, 2);
        QCOMPARE(notes->Count(), 0);
        QVERIFY(ReadWholeFile(file).contains("<Id>n1</Id>"));
        // With automatic saving off nothing is written.
        notes->SetAutoSave(false);
        notes->Add(QStringLiteral("quiet"), QStringLiteral("text"));
        QCOMPARE(FSaves, 2);
        notes->Save();
        QCOMPARE(FSaves, 3);
    }

    void loadRules() {
        auto notes = TItem::Create<TNotes>();
        // No file: empty, no error.
        notes->Load();
        QCOMPARE(notes->Count(), 0);
        notes->Add(QStringLiteral("old"));
        WriteWholeFile(FData->FilePath(QStringLiteral("Notes.xml")),
                       NotesFile("<TNote><Id>a</Id><Text>1</Text></TNote>"
                                 "<TNote><Id>b</Id><Text>2</Text></TNote>"));
        FSaves = 0;
        notes->Load();
        // The list is emptied first; the saves that the setters request are ignored.
        QCOMPARE(Ids(*notes), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(FSaves, 0);
        QVERIFY(!notes->Loading());
        // A load started from within a load does nothing.
        notes->LoadCalls = 0;
        notes->DuringLoad = [&] { notes->Load(); };
        notes->Load();
        QCOMPARE(notes->LoadCalls, 1);
        QCOMPARE(notes->Count(), 2);
    }

    void failedLoadKeepsItemsReadSoFar() {
        auto notes = TItem::Create<TNotes>();
        WriteWholeFile(FData->FilePath(QStringLiteral("Notes.xml")),
                       NotesFile("<TNote><Id>a</Id></TNote><TNote><Id>a</Id></TNote>"
                                 "<TNote><Id>c</Id></TNote>"));
        const TErrorText error = CatchRepository([&] { notes->Load(); });
        QCOMPARE(error.Title, QStringLiteral("Az elem neve nem egyedi."));
        QCOMPARE(Ids(*notes), QStringList{QStringLiteral("a")});
        QVERIFY(!notes->Loading());
        // Saving works again once the load has ended.
        FSaves = 0;
        notes->Save();
        QCOMPARE(FSaves, 1);

        WriteWholeFile(FData->FilePath(QStringLiteral("Notes.xml")), "<TNotes><broken");
        QVERIFY_THROWS_EXCEPTION(EXmlParseError, notes->Load());
        QCOMPARE(notes->Count(), 0);
        QVERIFY(!notes->Loading());
    }

    void rootPath() {
        WriteWholeFile(FData->AppDataPath() + QStringLiteral("Notes.xml"),
                       NotesFile("<TNote><Id>shared</Id></TNote>"));
        auto notes = TItem::Create<TNotes>();
        QCOMPARE(notes->RootPath(), TPathHelper::piLocalAppData);
        QCOMPARE(notes->GetFileName(), FData->FilePath(QStringLiteral("Notes.xml")));
        notes->SetAutoSave(false);
        notes->Add(QStringLiteral("local"));
        notes->SetRootPath(TPathHelper::piAppData);
        QCOMPARE(Ids(*notes), QStringList{QStringLiteral("shared")});
        QCOMPARE(notes->GetFileName(), FData->AppDataPath() + QStringLiteral("Notes.xml"));
        notes->LoadCalls = 0;
        notes->SetRootPath(TPathHelper::piAppData);
        QCOMPARE(notes->LoadCalls, 0);
        QCOMPARE(notes->Count(), 1);
    }

    void resetLeavesEmptyFile() {
        auto notes = TItem::Create<TNotes>();
        notes->Add(QStringLiteral("a"));
        notes->Add(QStringLiteral("b"));
        notes->Reset();
        QCOMPARE(notes->Count(), 0);
        const QByteArray file = ReadWholeFile(FData->FilePath(QStringLiteral("Notes.xml")));
        QVERIFY(file.contains("<TNoteEnumerator/>"));
        notes->Load();
        QCOMPARE(notes->Count(), 0);
    }

    void ownership() {
        auto notes = TItem::Create<TNotes>();
        notes->SetAutoSave(false);
        QPointer<TNote> a = notes->Add(QStringLiteral("a"));
        QPointer<TNote> b = notes->Add(QStringLiteral("b"));
        // An item moved to another list leaves the first one.
        auto other = TItem::Create<TNotes>();
        other->SetAutoSave(false);
        b->SetItemOwner(other.get());
        QCOMPARE(Ids(*notes), QStringList{QStringLiteral("a")});
        QCOMPARE(Ids(*other), QStringList{QStringLiteral("b")});
        // Clearing a list destroys its items, including one whose Qt parent
        // is another object.
        other->Clear();
        QVERIFY(b.isNull());
        QCOMPARE(notes->Count(), 1);
        // Destroying a list destroys its items.
        notes.reset();
        QVERIFY(a.isNull());

        // Destroying the owner of an item that sits in a list takes it out of the list.
        auto list = TItem::Create<TNotes>();
        list->SetAutoSave(false);
        auto holder = std::make_unique<QObject>();
        TNote* held = TItem::Create<TNote>(holder.get());
        held->SetItemOwner(list.get());
        QCOMPARE(list->Count(), 1);
        holder.reset();
        QCOMPARE(list->Count(), 0);
    }

    void changedReachesTheRepositoryThroughItsOwner() {
        auto notes = TItem::Create<TNotes>();
        TNote* note = notes->Add(QStringLiteral("a"));
        FSaves = 0;
        // An item that leaves the list notifies nobody.
        note->SetItemOwner(nullptr);
        QCOMPARE(FSaves, 0);
        // Joining a list saves it.
        note->SetItemOwner(notes.get());
        QCOMPARE(FSaves, 1);
    }

    void enumerators() {
        auto notes = TItem::Create<TNotes>();
        notes->SetAutoSave(false);
        notes->Add(QStringLiteral("a"));
        notes->Add(QStringLiteral("b"));
        auto e = notes->GetEnumerator();
        QStringList ids;
        while (e->MoveNext())
            ids << e->Current()->Id();
        QCOMPARE(ids, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(notes->AsArray().size(), 2);
        auto factory = notes->GetFactory();
        auto* made = dynamic_cast<TNote*>(factory->CreateObject());
        QVERIFY(made != nullptr);
        QCOMPARE(made->ItemOwner(), notes.get());
        QCOMPARE(notes->Count(), 3);
    }
};

QTEST_GUILESS_MAIN(TestRepository)
#include "tst_Repository.moc"
