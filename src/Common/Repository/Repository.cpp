#include "Common/Repository/Repository.h"

#include "Common/Repository/ObjXmlPersist.h"
#include "Common/Util/StrUtilsEx.h"

namespace {

[[noreturn]] void RaiseRepository(const QString& title, const QString& message,
                                  const QVariantList& titleArgs, const QVariantList& messageArgs) {
    throw ERepository(FixArticle(Format(title, titleArgs)),
                      FixArticle(Format(message, messageArgs)));
}

[[noreturn]] void RaiseNotUnique(const QString& displayName, const QString& key) {
    RaiseRepository(QStringLiteral("A(z) %s neve nem egyedi."),
                    QStringLiteral("A(z) %s elnevezése egyedi kell legyen, \"%s\" nevű elem már "
                                   "létezik."),
                    {displayName}, {displayName, key});
}

} // namespace

// ---- TItem

const TPersistClass& TItem::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TItem>(QStringLiteral("TItem"), nullptr)
            .Property(QStringLiteral("Id"), &TItem::Id, &TItem::SetId)
            .Property(QStringLiteral("Description"), &TItem::Description, &TItem::SetDescription)
            .Register();
    return cls;
}

TItem::~TItem() {
    SetItemOwner(nullptr);
}

void TItem::Construct(QObject* owner) {
    if (owner != nullptr)
        setParent(owner);
    if (auto* list = dynamic_cast<TItemList*>(owner))
        SetItemOwner(list);
    SetId(ClassName());
    SetDescription(ClassName());
}

void TItem::DestroyHalfMade(TItem* item) {
    if (item == nullptr)
        return;
    TItemList* list = item->FItemOwner;
    delete item;
    if (list == nullptr)
        return;
    try {
        list->Changed();
    } catch (...) {
    }
}

QString TItem::GetDisplayName() const {
    return ClassName();
}

void TItem::Changed() {
    if (FItemOwner != nullptr)
        FItemOwner->Changed();
}

void TItem::SetId(const QString& key) {
    if (key == FId)
        return;
    if (key.isEmpty())
        RaiseRepository(QStringLiteral("A(z) %s neve üres."),
                        QStringLiteral("A(z) %s nem lehet üres a neve."), {GetDisplayName()},
                        {GetDisplayName()});
    if (FItemOwner != nullptr) {
        if (FItemOwner->FItems.contains(key))
            RaiseNotUnique(GetDisplayName(), key);
        FItemOwner->FItems.remove(FId);
        FItemOwner->FItems.insert(key, this);
    }
    FId = key;
    Changed();
}

void TItem::SetDescription(const QString& value) {
    if (value == FDescription)
        return;
    FDescription = value;
    Changed();
}

void TItem::SetItemOwner(TItemList* value) {
    if (value == FItemOwner)
        return;
    if (value != nullptr && value->FItems.contains(FId))
        RaiseNotUnique(GetDisplayName(), FId);
    if (FItemOwner != nullptr) {
        const auto it = FItemOwner->FItems.constFind(FId);
        if (it != FItemOwner->FItems.cend() && it.value() == this)
            FItemOwner->FItems.erase(it);
        FItemOwner->FOrder.removeOne(this);
    }
    FItemOwner = value;
    if (value != nullptr) {
        value->FItems.insert(FId, this);
        value->FOrder.append(this);
    }
    Changed();
}

// ---- TItemEnumerator, TItemFactory

TItemEnumerator::TItemEnumerator(const TItemList& owner) : FItems(owner.AsArray()) {}

bool TItemEnumerator::MoveNext() {
    if (FIndex + 1 >= FItems.size())
        return false;
    ++FIndex;
    return true;
}

TItem* TItemEnumerator::Current() const {
    TV_ASSERT(FIndex >= 0 && FIndex < FItems.size());
    return FItems.at(FIndex);
}

TItemFactory::TItemFactory(TItemList* owner) : FOwner(owner) {
    TV_ASSERT(owner != nullptr);
}

TPersistent* TItemFactory::CreateObject() {
    const TItemClass& cls = FOwner->GetItemClass();
    TV_ASSERT(cls.Create != nullptr);
    return cls.Create(FOwner);
}

void TItemFactory::DestroyObject(TPersistent* object) {
    auto* item = dynamic_cast<TItem*>(object);
    TV_ASSERT(item != nullptr);
    delete item;
}

// ---- TItemList

const TPersistClass& TItemList::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TItemList>(QStringLiteral("TItemList"), &TItem::StaticClass()).Register();
    return cls;
}

TItemList::~TItemList() {
    Clear();
}

bool TItemList::Find(const QString& id, TItem*& item) const {
    const auto it = FItems.constFind(id);
    if (it == FItems.cend())
        return false;
    item = it.value();
    return true;
}

TItem* TItemList::Find(const QString& id) const {
    TItem* item = nullptr;
    if (!Find(id, item))
        RaiseRepository(QStringLiteral("A(z) %s nem található."),
                        QStringLiteral("A(z) %s nem található, nincsen \"%s\" nevű elem a "
                                       "listában."),
                        {GetDisplayName()}, {GetDisplayName(), id});
    return item;
}

void TItemList::Clear() {
    // Each destroyed item takes itself out of the list.
    const QList<TItem*> items = FOrder;
    for (TItem* item : items)
        delete item;
    FItems.clear();
    FOrder.clear();
}

std::unique_ptr<TItemEnumerator> TItemList::GetEnumerator() const {
    return std::make_unique<TItemEnumerator>(*this);
}

std::unique_ptr<TItemFactory> TItemList::GetFactory() {
    return std::make_unique<TItemFactory>(this);
}

const TItemClass& TItemList::GetItemClass() const {
    return ClassOf<TItem>();
}

// ---- TRepository

const TPersistClass& TRepository::StaticClass() {
    static const TPersistClass& cls =
        TClassBuilder<TRepository>(QStringLiteral("TRepository"), &TItemList::StaticClass())
            .Register();
    return cls;
}

void TRepository::Construct(QObject* owner) {
    TItemList::Construct(owner);
    FRootPath = TPathHelper::piLocalAppData;
    FAutoSave = true;
}

void TRepository::Load() {
    BeginUpdate();
    try {
        TBooleanLockGuard guard(FLoading);
        if (guard.Acquired()) {
            Clear();
            DoLoad();
        }
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TRepository::Save() {
    BeginUpdate();
    try {
        if (!FLoading.Locked())
            DoSave();
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TRepository::SetRootPath(TPathHelper::TPathType value) {
    if (value == FRootPath)
        return;
    Clear();
    FRootPath = value;
    Load();
}

QString TRepository::GetFileName() const {
    return PathHelper().GetPath(FRootPath);
}

QString TRepository::GetPluralDisplayName() const {
    return ClassName();
}

void TRepository::Changed() {
    TItemList::Changed();
    if (FAutoSave)
        Save();
}

void TRepository::DoSave() {
    TObjPersist::Save(*this, GetFileName());
}

void TRepository::DoLoad() {
    TObjPersist::Load(*this, GetFileName());
}

void TRepository::DoReset() {
    Clear();
    Save();
}
