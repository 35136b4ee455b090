#include "Common/Repository/ObjXmlPersist.h"

#include "Common/Files/FileUtils.h"

#include "Common/Repository/ValueText.h"

#include <QDomCDATASection>
#include <QDomNode>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

TObjPersist::TCommitHook& CommitHook() {
    static TObjPersist::TCommitHook hook;
    return hook;
}

// Empties the engine's document when a call ends, however it ends.
class TDocumentScope {
public:
    explicit TDocumentScope(std::unique_ptr<QDomDocument>& doc) : FDoc(doc) {
        FDoc = std::make_unique<QDomDocument>();
    }
    ~TDocumentScope() { FDoc.reset(); }
    TDocumentScope(const TDocumentScope&) = delete;
    TDocumentScope& operator=(const TDocumentScope&) = delete;

private:
    std::unique_ptr<QDomDocument>& FDoc;
};

// Readers ignore whitespace-only text between elements.
bool IsSignificant(const QDomNode& node) {
    if (node.isText() && !node.isCDATASection())
        return !node.nodeValue().trimmed().isEmpty();
    return true;
}

} // namespace

// ---- TObjPersist

QString TObjPersist::ReadStreamVersion(const TPersistClass&) {
    return {};
}

void TObjPersist::SetBeforeCommitHook(TCommitHook hook) {
    CommitHook() = std::move(hook);
}

void TObjPersist::SaveToFile(TPersistent& object, const QString& fileName) {
    TV_ASSERT(!fileName.isEmpty());
    TFileUtils::ForceFileFolder(fileName);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw EOSError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
    // When anything below raises, the temporary file is discarded and the
    // target stays as it was.
    SaveToStream(object, file);
    if (CommitHook())
        CommitHook()(fileName);
    if (!file.commit())
        throw EOSError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
}

void TObjPersist::LoadFromFile(TPersistent& object, const QString& fileName) {
    TV_ASSERT(!fileName.isEmpty());
    QFile file(fileName);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly))
        throw EOSError(QStringLiteral("%1: %2").arg(fileName, file.errorString()));
    LoadFromStream(object, file);
}

void TObjPersist::Save(TPersistent& object, const QString& fileName) {
    TObjXmlPersist engine;
    engine.SaveToFile(object, fileName);
}

void TObjPersist::Load(TPersistent& object, const QString& fileName) {
    TObjXmlPersist engine;
    engine.LoadFromFile(object, fileName);
}

// ---- TObjXmlPersist

QString TObjXmlPersist::ReadStreamVersion(const TPersistClass& type) {
    if (!FXmlDoc)
        return {};
    for (QDomNode n = FXmlDoc->firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isElement() && n.toElement().tagName() == type.Name)
            return n.toElement().attribute(QStringLiteral("version"));
    }
    return {};
}

void TObjXmlPersist::SaveToStream(TPersistent& object, QIODevice& stream) {
    TDocumentScope scope(FXmlDoc);
    FXmlDoc->appendChild(FXmlDoc->createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    {
        TObjXmlWriter writer(this);
        writer.SetTheObject(&object);
        writer.Write();
    }
    const QByteArray bytes = FXmlDoc->toByteArray(2);
    if (stream.write(bytes) != bytes.size())
        throw EOSError(stream.errorString());
}

void TObjXmlPersist::LoadFromStream(TPersistent& object, QIODevice& stream) {
    TDocumentScope scope(FXmlDoc);
    const QByteArray bytes = stream.readAll();
    QString error;
    int line = 0;
    int column = 0;
    if (!FXmlDoc->setContent(bytes, &error, &line, &column))
        throw EXmlParseError(QStringLiteral("%1 (line %2, column %3)")
                                 .arg(error.isEmpty() ? QStringLiteral("Invalid XML") : error)
                                 .arg(line)
                                 .arg(column));
    TObjXmlReader reader(this);
    reader.SetTheObject(&object);
    reader.Read();
}

// ---- TRttiEnumerator

bool TRttiEnumerator::IsEnumerable(const TPersistClass& type) {
    const TListInfo* list = type.FindList();
    return list != nullptr && !list->EnumeratorName.isEmpty() && list->ItemType != nullptr &&
           list->GetEnumerator && list->GetFactory;
}

TRttiEnumerator::TRttiEnumerator(TPersistent& list) {
    const TListInfo* info = list.ClassType().FindList();
    TV_ASSERT(info != nullptr);
    TV_ASSERT(info->GetFactory && info->GetEnumerator && info->ItemType != nullptr);
    FFacInstance = info->GetFactory(list);
    TV_ASSERT(FFacInstance != nullptr);
    FEnumInstance = info->GetEnumerator(list);
    TV_ASSERT(FEnumInstance != nullptr);
    FItemType = &info->ItemType();
    FEnumType = info->EnumeratorName;
}

bool TRttiEnumerator::MoveNext() {
    return FEnumInstance->MoveNext();
}

TPersistent* TRttiEnumerator::GetCurrent() const {
    return FEnumInstance->CurrentObject();
}

TPersistent* TRttiEnumerator::CreateNewElement() {
    return FFacInstance->CreateObject();
}

void TRttiEnumerator::DestroyElement(TPersistent* element) {
    FFacInstance->DestroyObject(element);
}

// ---- walkers

TObjReadWriteBase::TObjReadWriteBase(TObjXmlPersist* owner) : FOwner(owner) {
    TV_ASSERT(owner != nullptr);
}

void TObjReadWriteBase::SetTheObject(TPersistent* object) {
    FTheObject = object;
    FObjectType = nullptr;
    FObjectVersion.clear();
    if (object != nullptr) {
        FObjectType = &object->ClassType();
        FObjectVersion = FObjectType->VersionText();
    }
}

void TObjWriter::Write() {
    if (TheObject() == nullptr)
        return;
    BeginNode(*ObjectType());
    WriteContent(*TheObject(), *ObjectType());
    EndNode();
}

void TObjWriter::WriteContent(TPersistent& object, const TPersistClass& type) {
    const std::vector<const TPersistMember*> members = type.AllMembers();
    for (const TPersistMember* m : members) {
        if (m->IsField && m->SavesValue())
            WriteMember(object, *m);
    }
    for (const TPersistMember* m : members) {
        if (!m->IsField && m->Readable() && m->Writable() && m->SavesValue())
            WriteMember(object, *m);
    }
    if (type.IsPersistEnumerator && TRttiEnumerator::IsEnumerable(type))
        WriteList(object);
}

void TObjWriter::WriteMember(TPersistent& object, const TPersistMember& member) {
    BeginNode(member);
    if (member.Kind == TTypeKind::tkClass) {
        TV_ASSERT(member.ClassRef != nullptr);
        if (TPersistent* sub = member.ObjectGetter(object))
            WriteContent(*sub, member.ClassRef());
    } else {
        WriteValue(member, member.Getter(object));
    }
    EndNode();
}

void TObjWriter::WriteList(TPersistent& list) {
    TRttiEnumerator adapter(list);
    BeginNode(adapter.EnumType(), QString());
    for (int i = 0; adapter.MoveNext(); ++i) {
        TPersistent* item = adapter.GetCurrent();
        TV_ASSERT(item != nullptr);
        BeginItem(adapter.ItemType(), i);
        WriteContent(*item, adapter.ItemType());
        EndItem();
    }
    EndNode();
}

void TObjReader::Read() {
    if (TheObject() == nullptr)
        return;
    FStreamVersion = FOwner->ReadStreamVersion(*ObjectType());
    if (!BeginNode(*ObjectType()))
        return;
    ReadContent(*TheObject(), *ObjectType());
    EndNode();
}

void TObjReader::ReadContent(TPersistent& object, const TPersistClass& type) {
    const std::vector<const TPersistMember*> members = type.AllMembers();
    for (const TPersistMember* m : members) {
        if (m->IsField)
            ReadMember(object, *m);
    }
    for (const TPersistMember* m : members) {
        if (!m->IsField && m->Readable() && m->Writable())
            ReadMember(object, *m);
    }
    if (type.IsPersistEnumerator && TRttiEnumerator::IsEnumerable(type))
        ReadList(object);
}

void TObjReader::ReadMember(TPersistent& object, const TPersistMember& member) {
    if (!member.LoadsValue())
        return;
    if (!BeginNode(member))
        return;
    if (member.Kind == TTypeKind::tkClass) {
        TV_ASSERT(member.ClassRef != nullptr);
        TPersistent* sub = member.ObjectGetter(object);
        TV_ASSERT(sub != nullptr);
        ReadContent(*sub, member.ClassRef());
    } else {
        member.Setter(object, ReadValue(member));
    }
    EndNode();
}

void TObjReader::ReadList(TPersistent& list) {
    TRttiEnumerator adapter(list);
    if (!BeginNode(adapter.EnumType(), QString()))
        return;
    for (int i = 0; BeginItem(adapter.ItemType(), i); ++i) {
        TPersistent* item = adapter.CreateNewElement();
        TV_ASSERT(item != nullptr);
        try {
            ReadContent(*item, adapter.ItemType());
        } catch (...) {
            adapter.DestroyElement(item);
            throw;
        }
        EndItem();
    }
    EndNode();
}

// ---- XML walkers

void TObjXmlWriter::WriteValue(const TPersistMember& type, const QVariant& value) {
    TV_ASSERT(!FCurrent.isNull());
    const QString text = ValueText::ToXmlText(type, value);
    while (!FCurrent.firstChild().isNull())
        FCurrent.removeChild(FCurrent.firstChild());
    if (text.isEmpty())
        return;
    QDomDocument* doc = FOwner->XmlDoc();
    // A blank text would be taken for layout by a reader; CDATA keeps it.
    if (text.trimmed().isEmpty())
        FCurrent.appendChild(doc->createCDATASection(text));
    else
        FCurrent.appendChild(doc->createTextNode(text));
}

bool TObjXmlWriter::BeginItem(const TPersistClass& type, int) {
    TV_ASSERT(!FCurrent.isNull());
    return TObjReadWriteBase::BeginNode(type);
}

void TObjXmlWriter::EndItem() {
    EndNode();
}

bool TObjXmlWriter::BeginNode(const QString& name, const QString& version) {
    QDomDocument* doc = FOwner->XmlDoc();
    TV_ASSERT(doc != nullptr);
    QDomElement element = doc->createElement(name);
    if (FCurrent.isNull())
        doc->appendChild(element);
    else
        FCurrent.appendChild(element);
    if (!version.isEmpty())
        element.setAttribute(QStringLiteral("version"), version);
    FCurrent = element;
    return true;
}

void TObjXmlWriter::EndNode() {
    TV_ASSERT(!FCurrent.isNull());
    const QDomNode parent = FCurrent.parentNode();
    TV_ASSERT(!parent.isNull());
    FCurrent = parent.isElement() ? parent.toElement() : QDomElement();
}

QVariant TObjXmlReader::ReadValue(const TPersistMember& type) {
    TV_ASSERT(!FCurrent.isNull());
    return ValueText::FromXmlText(type, FCurrent.text());
}

bool TObjXmlReader::BeginItem(const TPersistClass& type, int index) {
    TV_ASSERT(!FCurrent.isNull());
    if (index < 0)
        return false;
    int position = 0;
    for (QDomNode n = FCurrent.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (!IsSignificant(n))
            continue;
        if (position++ < index)
            continue;
        if (!n.isElement() || n.toElement().tagName() != type.Name)
            return false;
        FCurrent = n.toElement();
        return true;
    }
    return false;
}

void TObjXmlReader::EndItem() {
    EndNode();
}

bool TObjXmlReader::BeginNode(const QString& name, const QString&) {
    QDomNode parent = FCurrent;
    if (FCurrent.isNull()) {
        QDomDocument* doc = FOwner->XmlDoc();
        TV_ASSERT(doc != nullptr);
        parent = *doc;
    }
    for (QDomNode n = parent.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isElement() && n.toElement().tagName() == name) {
            FCurrent = n.toElement();
            return true;
        }
    }
    return false;
}

void TObjXmlReader::EndNode() {
    TV_ASSERT(!FCurrent.isNull());
    const QDomNode parent = FCurrent.parentNode();
    TV_ASSERT(!parent.isNull());
    FCurrent = parent.isElement() ? parent.toElement() : QDomElement();
}
