// ctest-label: unit
// ctest-timeout: 300
#include "Common/Repository/ObjXmlPersist.h"
#include "Common/Session/Sessions.h"
#include "Support/TempAppData.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

namespace {

// Answers the password questions from a script and records them.
class TScriptedPrompt : public IPasswordPrompt {
public:
    struct TAnswer {
        bool Ok;
        QString Text;
    };
    QList<TAnswer> Answers;
    QStringList Questions; // "ask:caption" or "new:caption"

    bool AskForPassword(QString& password, const QString& caption, bool allowEmpty) override {
        return Answer(QStringLiteral("ask:") + caption, password, allowEmpty);
    }
    bool AskForNewPassword(QString& password, const QString& caption, bool allowEmpty) override {
        return Answer(QStringLiteral("new:") + caption, password, allowEmpty);
    }

private:
    bool Answer(const QString& question, QString& password, bool allowEmpty) {
        Questions << question;
        if (allowEmpty)
            Questions.last() += QStringLiteral(" (empty allowed)");
        if (Answers.isEmpty())
            return false;
        const TAnswer a = Answers.takeFirst();
        password = a.Text;
        return a.Ok;
    }
};

const QString kAsk = QStringLiteral("ask:Mester jelszó megadása.");
const QString kNew = QStringLiteral("new:Új mester jelszó létrehozása.");

QString Md5Upper(const QByteArray& bytes) {
    return QString::fromLatin1(
        QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toUpper());
}

} // namespace

class TestSessions : public QObject {
    Q_OBJECT

    std::unique_ptr<TTempAppData> FData;
    TScriptedPrompt FPrompt;

    QString FileName() const { return FData->FilePath(QStringLiteral("Sessions.xml")); }

    std::unique_ptr<TSessions> NewSessions() {
        auto sessions = TItem::Create<TSessions>();
        sessions->SetPrompt(&FPrompt);
        return sessions;
    }

    // A list with password storing on under the master password "mester",
    // and two logins.
    std::unique_ptr<TSessions> StoringSessions() {
        auto sessions = NewSessions();
        FPrompt.Answers = {{true, QStringLiteral("mester")}};
        sessions->SetStorePasswords(true);
        TSession* older = sessions->ActivateSession(
            QStringLiteral("Production"), QStringLiteral("kovacs"), QStringLiteral("titok1"));
        // The file keeps whole seconds: make the order of the logins plain.
        older->SetLastUsed(TDateTime(TDateTime::Now().Value() - 1));
        sessions->ActivateSession(QStringLiteral("Test"), QStringLiteral("nagy"),
                                  QStringLiteral("Jelszó2"));
        return sessions;
    }

private slots:
    void init() {
        FData = std::make_unique<TTempAppData>();
        QVERIFY(FData->IsValid());
        FPrompt = TScriptedPrompt();
    }
    void cleanup() { FData.reset(); }

    void generateId_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("env");
        QTest::addColumn<QByteArray>("hashed");
        QTest::newRow("plain") << "kovacs"
                               << "Production" << QByteArray("PRODUCTIONKOVACS");
        QTest::newRow("letter case") << "KoVaCs"
                                     << "production" << QByteArray("PRODUCTIONKOVACS");
        QTest::newRow("accented letters") << "kovács"
                                          << "Éles" << QByteArray("?LESKOV?CS");
        QTest::newRow("other characters kept") << "a.b-1"
                                               << "E_2" << QByteArray("E_2A.B-1");
        QTest::newRow("empty") << ""
                               << "" << QByteArray();
    }
    void generateId() {
        QFETCH(QString, user);
        QFETCH(QString, env);
        QFETCH(QByteArray, hashed);
        const QString id = TSession::GenerateId(user, env);
        QCOMPARE(id, Md5Upper(hashed));
        QCOMPARE(id.size(), 32);
    }

    void idsIgnoreCaseAndAccents() {
        QCOMPARE(TSession::GenerateId(QStringLiteral("kovacs"), QStringLiteral("P")),
                 TSession::GenerateId(QStringLiteral("KOVACS"), QStringLiteral("P")));
        QCOMPARE(TSession::GenerateId(QStringLiteral("á"), QStringLiteral("P")),
                 TSession::GenerateId(QStringLiteral("é"), QStringLiteral("P")));
    }

    void loggingIn() {
        auto sessions = NewSessions();
        TSession* first = sessions->ActivateSession(QStringLiteral("Production"),
                                                    QStringLiteral("kovacs"), QStringLiteral("a"));
        QCOMPARE(first->Id(),
                 TSession::GenerateId(QStringLiteral("kovacs"), QStringLiteral("Production")));
        QCOMPARE(sessions->Current(), first);
        const TDateTime used = first->LastUsed();
        QVERIFY(used.Value() > 0);
        QTest::qWait(5);
        TSession* again = sessions->ActivateSession(QStringLiteral("Production"),
                                                    QStringLiteral("KOVACS"), QStringLiteral("b"));
        QCOMPARE(again, first);
        QCOMPARE(sessions->Count(), 1);
        QCOMPARE(first->UserName(), QStringLiteral("kovacs")); // the first login's case
        QCOMPARE(first->Password(), QStringLiteral("b"));
        QVERIFY(first->LastUsed() > used);
        TSession* other =
            sessions->ActivateSession(QStringLiteral("Test"), QStringLiteral("kovacs"), QString());
        QVERIFY(other != first);
        QCOMPARE(sessions->Count(), 2);
        QCOMPARE(sessions->Current(), other);
        QCOMPARE(other->GetDisplayName(), QStringLiteral("munkafázis"));
    }

    void storingOff() {
        auto sessions = NewSessions();
        sessions->ActivateSession(QStringLiteral("Production"), QStringLiteral("kovacs"),
                                  QStringLiteral("titok"));
        const QByteArray file = ReadWholeFile(FileName());
        QVERIFY(file.contains("<StorePasswords>False</StorePasswords>"));
        QVERIFY(file.contains("<Max>10</Max>"));
        QVERIFY(file.contains("<StoredPassword/>"));
        QVERIFY(!file.contains("titok"));
        QVERIFY(!QFile::exists(TSessions::KeyFileName()));
        auto reread = NewSessions();
        reread->Load();
        QCOMPARE(reread->Count(), 1);
        QCOMPARE(reread->Current()->UserName(), QStringLiteral("kovacs"));
        QCOMPARE(reread->Current()->Password(), QString());
        QVERIFY(FPrompt.Questions.isEmpty());
    }

    void documentShape() {
        auto sessions = NewSessions();
        sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("u"), QString());
        const QByteArray file = ReadWholeFile(FileName());
        const QList<QByteArray> order = {"<TSessions version=\"1.1\">",
                                         "<StorePasswords>",
                                         "<Max>",
                                         "<TSessionEnumerator>",
                                         "<TSession version=\"1.1\">",
                                         "<Id>",
                                         "<UserName>",
                                         "<StoredPassword",
                                         "<EnvName>",
                                         "<LastUsed>"};
        qsizetype at = 0;
        for (const QByteArray& tag : order) {
            const qsizetype next = file.indexOf(tag, at);
            QVERIFY2(next >= at, tag.constData());
            at = next;
        }
        QVERIFY(!file.contains("<Password>"));
    }

    void storingOnRoundTrip() {
        auto sessions = StoringSessions();
        QCOMPARE(FPrompt.Questions, QStringList{kNew});
        QVERIFY(sessions->StorePasswords());
        QCOMPARE(sessions->MasterPassword(), QStringLiteral("mester"));
        QFile key(TSessions::KeyFileName());
        QVERIFY(key.exists());
        QCOMPARE(key.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
                 QFileDevice::Permissions());
        for (TSession* s : sessions->Sessions()) {
            const QString stored = s->StoredPassword();
            QCOMPARE(stored.size(), 256);
            QCOMPARE(stored, stored.toUpper());
        }
        const QByteArray file = ReadWholeFile(FileName());
        QVERIFY(file.contains("<StorePasswords>True</StorePasswords>"));
        QVERIFY(!file.contains("titok1"));

        FPrompt.Questions.clear();
        FPrompt.Answers = {{true, QStringLiteral("mester")}};
        auto reread = NewSessions();
        reread->Load();
        QCOMPARE(FPrompt.Questions, QStringList{kAsk});
        QVERIFY(reread->StorePasswords());
        QCOMPARE(reread->Count(), 2);
        // The newest login is current.
        QCOMPARE(reread->Current()->UserName(), QStringLiteral("nagy"));
        QCOMPARE(reread->Current()->Password(), QStringLiteral("Jelszó2"));
        TItem* kovacs = reread->Find(
            TSession::GenerateId(QStringLiteral("kovacs"), QStringLiteral("Production")));
        QCOMPARE(static_cast<TSession*>(kovacs)->Password(), QStringLiteral("titok1"));
    }

    void handlerSuppliesTheMasterPassword() {
        StoringSessions();
        FPrompt.Questions.clear();
        auto reread = NewSessions();
        reread->SetOnGetMasterPassword([](QString& password) { password = "mester"; });
        reread->Load();
        QVERIFY(FPrompt.Questions.isEmpty());
        QCOMPARE(reread->Current()->Password(), QStringLiteral("Jelszó2"));
    }

    void wrongThenRightMasterPassword() {
        StoringSessions();
        FPrompt.Questions.clear();
        FPrompt.Answers = {{true, QStringLiteral("elírás")}, {true, QStringLiteral("mester")}};
        auto reread = NewSessions();
        reread->Load();
        QCOMPARE(FPrompt.Questions, (QStringList{kAsk, kAsk}));
        QCOMPARE(reread->Count(), 2);
        QCOMPARE(reread->Current()->Password(), QStringLiteral("Jelszó2"));
        QCOMPARE(reread->MasterPassword(), QStringLiteral("mester"));
    }

    void wrongThreeTimesKeepsTheFile() {
        StoringSessions();
        const QByteArray before = ReadWholeFile(FileName());
        const QByteArray keyBefore = ReadWholeFile(TSessions::KeyFileName());
        FPrompt.Questions.clear();
        FPrompt.Answers = {{true, "a"}, {true, "b"}, {true, "c"}, {true, "mester"}};
        auto reread = NewSessions();
        try {
            reread->Load();
            QFAIL("the load succeeded");
        } catch (const EMasterPassword& e) {
            QCOMPARE(e.Title(), QStringLiteral("Hibás mester jelszó"));
            QCOMPARE(e.Message(), QStringLiteral("A(z) %1 kulcs fájl nem nyitható meg a megadott "
                                                 "mester jelszóval.")
                                      .arg(TSessions::KeyFileName())
                                      .replace(QStringLiteral("A(z) "), QStringLiteral("A ")));
        }
        QCOMPARE(FPrompt.Questions.size(), TSessions::MasterPasswordAttempts);
        QVERIFY(!reread->StorePasswords());
        QVERIFY(reread->SaveBlocked());
        // What the start-up does next: empty the list and go on; logging in
        // and saving leave the file alone.
        FPrompt.Answers = {{true, "a"}, {true, "b"}, {true, "c"}};
        QVERIFY(!reread->LoadOrClear().isEmpty());
        QCOMPARE(reread->Count(), 0);
        QCOMPARE(reread->Current(), nullptr);
        reread->ActivateSession(QStringLiteral("Production"), QStringLiteral("uj"),
                                QStringLiteral("x"));
        reread->Save();
        QCOMPARE(ReadWholeFile(FileName()), before);
        QCOMPARE(ReadWholeFile(TSessions::KeyFileName()), keyBefore);
        // The next start with the right password finds everything.
        FPrompt.Answers = {{true, QStringLiteral("mester")}};
        auto again = NewSessions();
        again->Load();
        QCOMPARE(again->Count(), 2);
        QCOMPARE(again->Current()->Password(), QStringLiteral("Jelszó2"));
        QVERIFY(!again->SaveBlocked());
    }

    void cancelledQuestions() {
        // No new master password: storing stays off and no key file appears.
        auto sessions = NewSessions();
        FPrompt.Answers = {{false, QStringLiteral("typed")}};
        sessions->SetStorePasswords(true);
        QVERIFY(!sessions->StorePasswords());
        QVERIFY(!QFile::exists(TSessions::KeyFileName()));
        // No prompt at all counts as cancelled.
        sessions->SetPrompt(nullptr);
        sessions->SetStorePasswords(true);
        QVERIFY(!sessions->StorePasswords());

        // A cancelled master password leaves storing off for the run.
        StoringSessions();
        FPrompt.Answers = {{false, QStringLiteral("mester")}};
        auto reread = NewSessions();
        reread->Load();
        QVERIFY(!reread->StorePasswords());
        QCOMPARE(reread->Count(), 2);
        QCOMPARE(reread->Current()->Password(), QString());
        QVERIFY(QFile::exists(TSessions::KeyFileName()));
    }

    void storedPasswordEdgeCases() {
        auto sessions = StoringSessions();
        TSession* current = sessions->Current();
        // Too long for one block: stored as empty.
        current->SetPassword(QString(40, u'x'));
        QCOMPARE(current->StoredPassword(), QString());
        current->SetPassword(QString(31, u'x'));
        QCOMPARE(current->StoredPassword().size(), 256);
        // A stored password made with another key: the password is forgotten.
        TRsaKey other;
        other.Generate(1024);
        QByteArray utf16;
        for (QChar c : QStringLiteral("abc"))
            utf16 += char(c.unicode()) + QByteArray(1, '\0');
        current->SetStoredPassword(BytesToHexForTest(other.Encrypt(utf16)));
        QCOMPARE(current->Password(), QString());
        // Not hexadecimal: a conversion error.
        QVERIFY_THROWS_EXCEPTION(EConvertError, current->SetStoredPassword(QStringLiteral("ZZ")));
        current->SetStoredPassword(QString());
        QCOMPARE(current->Password(), QString());
    }

    void notHexadecimalFailsTheLoad() {
        StoringSessions();
        QByteArray file = ReadWholeFile(FileName());
        const qsizetype at = file.indexOf("<StoredPassword>") + 16;
        file[at] = 'Z';
        WriteWholeFile(FileName(), file);
        FPrompt.Answers = {{true, QStringLiteral("mester")}};
        auto reread = NewSessions();
        QVERIFY_THROWS_EXCEPTION(EConvertError, reread->Load());
        QVERIFY(reread->SaveBlocked());
        reread->Save();
        QCOMPARE(ReadWholeFile(FileName()), file);
    }

    void duplicateSessionsFailTheLoad() {
        auto sessions = NewSessions();
        sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("a"), QString());
        sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("b"), QString());
        QByteArray file = ReadWholeFile(FileName());
        file.replace("<UserName>b</UserName>", "<UserName>A</UserName>");
        WriteWholeFile(FileName(), file);
        auto reread = NewSessions();
        try {
            reread->Load();
            QFAIL("the load succeeded");
        } catch (const ERepository& e) {
            QCOMPARE(e.Title(), QStringLiteral("A munkafázis neve nem egyedi."));
        }
    }

    void max() {
        auto sessions = NewSessions();
        sessions->SetAutoSave(false);
        for (int i = 1; i <= 5; ++i) {
            TSession* s = sessions->ActivateSession(QStringLiteral("P"),
                                                    QStringLiteral("u%1").arg(i), QString());
            s->SetLastUsed(TDateTime::EncodeDate(2020, 1, i));
        }
        sessions->SetMax(-1);
        QCOMPARE(sessions->Count(), 5);
        QCOMPARE(sessions->Max(), 10);
        sessions->SetMax(2);
        QCOMPARE(sessions->Count(), 2);
        QStringList users;
        for (TSession* s : sessions->Sessions())
            users << s->UserName();
        users.sort();
        QCOMPARE(users, (QStringList{QStringLiteral("u4"), QStringLiteral("u5")}));
        sessions->SetMax(0);
        QCOMPARE(sessions->Count(), 0);
        QCOMPARE(sessions->Current(), nullptr);
    }

    void comparer() {
        auto sessions = NewSessions();
        sessions->SetAutoSave(false);
        TSession* a = sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("a"), {});
        TSession* b = sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("b"), {});
        a->SetLastUsed(TDateTime(10));
        b->SetLastUsed(TDateTime(20));
        QCOMPARE(TSessionsComparer::Compare(a, b), 1);
        QCOMPARE(TSessionsComparer::Compare(b, a), -1);
        b->SetLastUsed(TDateTime(10));
        QCOMPARE(TSessionsComparer::Compare(a, b), 0);
    }

    void currentAfterLoad() {
        auto empty = NewSessions();
        empty->Load();
        QCOMPARE(empty->Current(), nullptr);
        auto sessions = NewSessions();
        TSession* old = sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("old"), {});
        sessions->ActivateSession(QStringLiteral("P"), QStringLiteral("newer"), {});
        old->SetLastUsed(TDateTime(TDateTime::Now().Value() + 1));
        auto reread = NewSessions();
        reread->Load();
        QCOMPARE(reread->Current()->UserName(), QStringLiteral("old"));
    }

    void reset() {
        auto sessions = StoringSessions();
        sessions->SetMax(5);
        sessions->Reset();
        QCOMPARE(sessions->Count(), 0);
        QVERIFY(!sessions->StorePasswords());
        QCOMPARE(sessions->Max(), 10);
        QCOMPARE(sessions->MasterPassword(), QString());
        QCOMPARE(sessions->Current(), nullptr);
        QVERIFY(!QFile::exists(TSessions::KeyFileName()));
        const QByteArray file = ReadWholeFile(FileName());
        QVERIFY(file.contains("<StorePasswords>False</StorePasswords>"));
        QVERIFY(file.contains("<TSessionEnumerator/>"));
    }

    void resetLiftsALockedStart() {
        StoringSessions();
        FPrompt.Answers = {{true, "a"}, {true, "b"}, {true, "c"}};
        auto locked = NewSessions();
        QVERIFY_THROWS_EXCEPTION(EMasterPassword, locked->Load());
        locked->Clear();
        // The forgotten master password's key file goes with the reset.
        locked->Reset();
        QVERIFY(!locked->SaveBlocked());
        QVERIFY(!QFile::exists(TSessions::KeyFileName()));
        QVERIFY(ReadWholeFile(FileName()).contains("<TSessionEnumerator/>"));
        FPrompt.Questions.clear();
        FPrompt.Answers = {{true, QStringLiteral("uj mester")}};
        locked->SetStorePasswords(true);
        QCOMPARE(FPrompt.Questions, QStringList{kNew});
        QVERIFY(locked->StorePasswords());
    }

    void switchingOffDeletesTheKey() {
        auto sessions = StoringSessions();
        sessions->SetStorePasswords(false);
        QVERIFY(!QFile::exists(TSessions::KeyFileName()));
        QCOMPARE(sessions->MasterPassword(), QString());
        QVERIFY(!sessions->MasterKeyReady());
        QVERIFY(ReadWholeFile(FileName()).contains("<StoredPassword/>"));
        // Switching on again asks for a new master password.
        FPrompt.Questions.clear();
        FPrompt.Answers = {{true, QStringLiteral("masik")}};
        sessions->SetStorePasswords(true);
        QCOMPARE(FPrompt.Questions, QStringList{kNew});
        // Later unlocks in the same run do not ask again.
        sessions->SetStorePasswords(true);
        QCOMPARE(FPrompt.Questions.size(), 1);
    }

    void displayNames() {
        const TPersistClass& cls = TSession::StaticClass();
        QCOMPARE(StringNamedValue::GetName(*cls.FindMember(QStringLiteral("UserName"))),
                 QStringLiteral("Felhasználó"));
        QCOMPARE(NamedProperties().GetName(*cls.FindMember(QStringLiteral("Password"))),
                 QStringLiteral("Jelszó"));
        QCOMPARE(NamedProperties().GetName(*cls.FindMember(QStringLiteral("LastUsed"))),
                 QStringLiteral("Utoljára használt"));
        QCOMPARE(NamedProperties().GetName(*cls.FindMember(QStringLiteral("EnvName"))),
                 QStringLiteral("Környezet neve"));
        QVERIFY(cls.FindMember(QStringLiteral("Id"))->IsKeyField);
    }

private:
    static QString BytesToHexForTest(const QByteArray& bytes) {
        return QString::fromLatin1(bytes.toHex().toUpper());
    }
};

QTEST_GUILESS_MAIN(TestSessions)
#include "tst_Sessions.moc"
