#pragma once

// The persistence engine: turns an object into an XML document with the help
// of its class metadata (PersistMeta.h), or fills an existing object from one.
//
// Document form: the XML declaration (version 1.0, UTF-8), one root element
// named after the object's class, one child element per persisted member
// holding its text, and for lists one element named after the enumerator
// class holding one element per item. The only attribute is "version".

#include "Common/Repository/PersistMeta.h"

#include <QDomDocument>
#include <QDomElement>
#include <QString>

#include <functional>
#include <memory>

class QIODevice;
class TObjXmlPersist;

// A document that is not well-formed XML; the message is the parser's own.
TV_DECLARE_EXCEPTION(EXmlParseError, Exception);

class TObjPersist {
public:
    virtual ~TObjPersist() = default;

    // The version stated in the loaded document for the root class.
    virtual QString ReadStreamVersion(const TPersistClass& type);
    virtual void SaveToStream(TPersistent& object, QIODevice& stream) = 0;
    virtual void LoadFromStream(TPersistent& object, QIODevice& stream) = 0;

    // Creates the file's folder with every missing level, writes the document
    // to a temporary file in that folder and renames it over the target, so a
    // failure at any moment leaves the previous file as it was.
    void SaveToFile(TPersistent& object, const QString& fileName);
    // A missing file is no error: the object keeps its state.
    void LoadFromFile(TPersistent& object, const QString& fileName);

    // Called after the temporary file is written and before it is renamed
    // over the target; crash tests stop the process here.
    using TCommitHook = std::function<void(const QString& fileName)>;
    static void SetBeforeCommitHook(TCommitHook hook);

    // One-call helpers: an engine for the call, destroyed after it.
    static void Save(TPersistent& object, const QString& fileName);
    static void Load(TPersistent& object, const QString& fileName);
};

class TObjXmlPersist : public TObjPersist {
public:
    QString ReadStreamVersion(const TPersistClass& type) override;
    // Builds the document in memory and writes it to the stream in one piece.
    void SaveToStream(TPersistent& object, QIODevice& stream) override;
    // Parses the whole stream (a UTF-8 byte-order mark is accepted), then reads.
    void LoadFromStream(TPersistent& object, QIODevice& stream) override;

    // The document of the call in progress (null outside a call).
    QDomDocument* XmlDoc() const { return FXmlDoc.get(); }

private:
    std::unique_ptr<QDomDocument> FXmlDoc;
};

// The list adapter through which the walkers see a list.
class TRttiEnumerator {
public:
    // True when the class has a complete list declaration.
    static bool IsEnumerable(const TPersistClass& type);
    // The object must be a list.
    explicit TRttiEnumerator(TPersistent& list);

    bool MoveNext();
    TPersistent* GetCurrent() const;
    const TPersistClass& ItemType() const { return *FItemType; }
    const QString& EnumType() const { return FEnumType; }
    TPersistent* CreateNewElement();
    // Destroys an element that could not be read (it leaves the list).
    void DestroyElement(TPersistent* element);

private:
    std::unique_ptr<TObjFactory> FFacInstance;
    std::unique_ptr<TObjEnumerator> FEnumInstance;
    const TPersistClass* FItemType = nullptr;
    QString FEnumType;
};

// Base of the two tree walkers.
class TObjReadWriteBase {
public:
    explicit TObjReadWriteBase(TObjXmlPersist* owner);
    virtual ~TObjReadWriteBase() = default;
    TObjReadWriteBase(const TObjReadWriteBase&) = delete;
    TObjReadWriteBase& operator=(const TObjReadWriteBase&) = delete;

    TPersistent* TheObject() const { return FTheObject; }
    void SetTheObject(TPersistent* object);
    const TPersistClass* ObjectType() const { return FObjectType; }
    const QString& ObjectVersion() const { return FObjectVersion; }

    virtual bool BeginItem(const TPersistClass& type, int index) = 0;
    virtual void EndItem() = 0;
    // A class (with its version) or a member (without one).
    virtual bool BeginNode(const QString& name, const QString& version) = 0;
    virtual void EndNode() = 0;

    bool BeginNode(const TPersistClass& type) { return BeginNode(type.Name, type.VersionText()); }
    bool BeginNode(const TPersistMember& member) { return BeginNode(member.Name, QString()); }

protected:
    TObjXmlPersist* FOwner;

private:
    TPersistent* FTheObject = nullptr;
    const TPersistClass* FObjectType = nullptr;
    QString FObjectVersion;
};

class TObjWriter : public TObjReadWriteBase {
public:
    using TObjReadWriteBase::TObjReadWriteBase;
    virtual void WriteValue(const TPersistMember& type, const QVariant& value) = 0;
    // Walks TheObject; nothing when there is none.
    void Write();

private:
    void WriteContent(TPersistent& object, const TPersistClass& type);
    void WriteMember(TPersistent& object, const TPersistMember& member);
    void WriteList(TPersistent& list);
};

class TObjReader : public TObjReadWriteBase {
public:
    using TObjReadWriteBase::TObjReadWriteBase;
    virtual QVariant ReadValue(const TPersistMember& type) = 0;
    // Fills TheObject; nothing when there is none.
    void Read();
    const QString& StreamVersion() const { return FStreamVersion; }

private:
    void ReadContent(TPersistent& object, const TPersistClass& type);
    void ReadMember(TPersistent& object, const TPersistMember& member);
    void ReadList(TPersistent& list);

    QString FStreamVersion;
};

class TObjXmlWriter : public TObjWriter {
public:
    using TObjWriter::TObjWriter;
    void WriteValue(const TPersistMember& type, const QVariant& value) override;
    bool BeginItem(const TPersistClass& type, int index) override;
    void EndItem() override;
    bool BeginNode(const QString& name, const QString& version) override;
    void EndNode() override;
    using TObjReadWriteBase::BeginNode;

private:
    QDomElement FCurrent;
};

class TObjXmlReader : public TObjReader {
public:
    using TObjReader::TObjReader;
    QVariant ReadValue(const TPersistMember& type) override;
    bool BeginItem(const TPersistClass& type, int index) override;
    void EndItem() override;
    bool BeginNode(const QString& name, const QString& version) override;
    void EndNode() override;
    using TObjReadWriteBase::BeginNode;

private:
    QDomElement FCurrent;
};
