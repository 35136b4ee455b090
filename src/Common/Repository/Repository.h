#pragma once

// Identified items, lists of items indexed by identity, and repositories:
// lists that load themselves from and save themselves to one XML file under
// a well-known folder. Every change of an item in a repository saves the file
// at once unless automatic saving is off.
//
// Items are created through TItem::Create<T>(owner): the object is built
// completely first, then it joins its list and takes its defaults (so a
// repository that saves while an item is being set up always sees a whole
// object). When that set-up raises, the new item is destroyed again and the
// list is as it was.

#include "Common/Config/Config.h"
#include "Common/Error/CustomException.h"
#include "Common/Repository/PersistMeta.h"
#include "Common/Util/BooleanLock.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

// Every identity error of items and lists.
class ERepository : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(ERepository)
};

// An object of the wrong class where a particular one is needed.
TV_DECLARE_EXCEPTION(EInvalidCast, Exception);

class TItem;
class TItemList;

// A class reference for item classes: its metadata and how to create one.
struct TItemClass {
    const TPersistClass& (*Type)() = nullptr;
    TItem* (*Create)(QObject* owner) = nullptr;
};

class TItem : public QObject, public TPersistent {
public:
    ~TItem() override;
    TItem(const TItem&) = delete;
    TItem& operator=(const TItem&) = delete;

    // A new item of class T owned by `owner` (which must not be null and
    // destroys it); when the owner is a list, the item joins it.
    template <class T> static T* Create(QObject* owner);
    // A new item of class T without owner.
    template <class T> static std::unique_ptr<T> Create();
    template <class T> static const TItemClass& ClassOf();

    TItemList* ItemOwner() const { return FItemOwner; }
    // Moves the item to another list (or out of every list with null). The
    // new list must not hold the item's identity yet.
    void SetItemOwner(TItemList* value);

    const QString& Id() const { return FId; }
    // The identity: never empty, unique within the owning list (letter case counts).
    void SetId(const QString& key);
    const QString& Description() const { return FDescription; }
    void SetDescription(const QString& value);

    // The singular name of the item's kind used in error texts.
    virtual QString GetDisplayName() const;
    // The change notification; reaches the owning list.
    virtual void Changed();

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

    // Destroys an item whose set-up failed after it had joined a list, then
    // notifies that list, so that a repository does not keep the half-made
    // item in its file (which would stop the file from loading again). An
    // error of that notification is dropped: the set-up error is the one
    // that counts. Call it inside a catch block only.
    static void DestroyHalfMade(TItem* item);

protected:
    TItem() = default;
    // The constructor's work on the complete object: join the owner when it
    // is a list (under the still empty identity), then take the class name
    // as identity and description. Subclasses add their defaults after it.
    virtual void Construct(QObject* owner);

private:
    friend class TItemList;
    TItemList* FItemOwner = nullptr;
    QString FId;
    QString FDescription;
};

// Enumerates the items of a list (in the order they joined it; the order
// carries no meaning). It walks a snapshot: items that join or leave the list
// meanwhile do not disturb it, but an item destroyed meanwhile must not be read.
class TItemEnumerator : public TObjEnumerator {
public:
    explicit TItemEnumerator(const TItemList& owner);
    bool MoveNext() override;
    TItem* Current() const;
    TPersistent* CurrentObject() const override { return Current(); }

private:
    QList<TItem*> FItems;
    qsizetype FIndex = -1;
};

// Creates items of the list's item class, already in the list.
class TItemFactory : public TObjFactory {
public:
    explicit TItemFactory(TItemList* owner);
    TPersistent* CreateObject() override;
    void DestroyObject(TPersistent* object) override;

private:
    TItemList* FOwner;
};

class TItemList : public TItem {
public:
    ~TItemList() override;

    int Count() const { return int(FOrder.size()); }
    // Exact look-up (letter case counts); false when absent.
    bool Find(const QString& id, TItem*& item) const;
    // As above; raises ERepository when absent.
    TItem* Find(const QString& id) const;
    // Every item (the array does not own them).
    QList<TItem*> AsArray() const { return FOrder; }
    // Destroys every item; no change notification, no save.
    void Clear();
    std::unique_ptr<TItemEnumerator> GetEnumerator() const;
    std::unique_ptr<TItemFactory> GetFactory();
    // The class of the items that the factory creates.
    virtual const TItemClass& GetItemClass() const;

    QList<TItem*>::const_iterator begin() const { return FOrder.cbegin(); }
    QList<TItem*>::const_iterator end() const { return FOrder.cend(); }

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TItemList() = default;

private:
    QList<TItem*> FOrder;
    QHash<QString, TItem*> FItems;
};

class TRepository : public TItemList {
public:
    // Empties the list and reads the file; a missing file leaves the list
    // empty. Saves requested while the file is read are ignored, and a load
    // started from within a load does nothing. An error propagates after the
    // load has ended; the items read before it stay in the list.
    void Load();
    // Writes the file (nothing while a load is in progress).
    void Save();
    void Reset() { DoReset(); }

    bool AutoSave() const { return FAutoSave; }
    void SetAutoSave(bool value) { FAutoSave = value; }
    TPathHelper::TPathType RootPath() const { return FRootPath; }
    // A different folder empties the list and loads from the new folder.
    void SetRootPath(TPathHelper::TPathType value);
    bool Loading() const { return FLoading.Locked(); }

    // The folder of RootPath; concrete repositories add their file name.
    virtual QString GetFileName() const;
    virtual QString GetPluralDisplayName() const;
    // Notifies the owner, then saves when AutoSave is on.
    void Changed() override;

    static const TPersistClass& StaticClass();
    const TPersistClass& ClassType() const override { return StaticClass(); }

protected:
    friend class TItem;
    TRepository() = default;
    void Construct(QObject* owner) override;

    virtual void DoSave();
    virtual void DoLoad();
    // Empties the list and saves.
    virtual void DoReset();
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}

private:
    TBooleanLock FLoading;
    // Off until construction has finished, so a new repository does not
    // write its file while it takes its defaults.
    bool FAutoSave = false;
    TPathHelper::TPathType FRootPath = TPathHelper::piLocalAppData;
};

// ---- templates

template <class T> T* TItem::Create(QObject* owner) {
    TV_ASSERT(owner != nullptr);
    std::unique_ptr<T> item(new T());
    try {
        static_cast<TItem&>(*item).Construct(owner);
    } catch (...) {
        DestroyHalfMade(item.release());
        throw;
    }
    // From here on the owner (a Qt parent) destroys it.
    return item.release();
}

template <class T> std::unique_ptr<T> TItem::Create() {
    std::unique_ptr<T> item(new T());
    static_cast<TItem&>(*item).Construct(nullptr);
    return item;
}

template <class T> const TItemClass& TItem::ClassOf() {
    static const TItemClass cls{&T::StaticClass,
                                [](QObject* owner) -> TItem* { return Create<T>(owner); }};
    return cls;
}
