#pragma once

// Class metadata of the objects that are saved as XML: which members are
// persisted, in which order, with which value kind, getter and setter, and
// for lists how their items are enumerated and re-created. Every persisted
// class registers one small table (a TClassBuilder chain in its StaticClass)
// next to its declaration; the engine in ObjXmlPersist.h walks objects with it.

#include "Common/Repository/DateTime.h"
#include "Platform/Runtime/Exception.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <concepts>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

class TPersistClass;
class TPersistMember;

// Every object that the persistence engine can walk.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    // Metadata of the object's actual class.
    virtual const TPersistClass& ClassType() const = 0;
    QString ClassName() const;
};

// ---- marks (attached to a class or a member in its registration table)

// The member is written when Save is true and read when Load is true.
struct PersistMember {
    bool Save = true;
    bool Load = true;
};
// Stamped as the attribute "version" on every element that stands for the class.
struct PersistVersion {
    QString Version;
};
// The list's items are written as child elements and re-created on load.
struct PersistEnumerator {};
// Marks the member that identifies an item; nothing reads it.
struct KeyField {};

// The member can be shown and edited as one line of text with the user's own
// regional settings (the files use fixed "en-US" forms instead).
struct StringValue {
    static QString GetValue(const TPersistMember& member, const TPersistent& object);
    static void SetValue(const TPersistMember& member, TPersistent& object, const QString& value);
};
// As StringValue, and the member has a display name from TNamedProperties.
struct StringNamedValue : StringValue {
    // The registered display name, or the member's own name when none is registered.
    static QString GetName(const TPersistMember& member);
};

// ---- value kinds

enum class TTypeKind { tkInteger, tkString, tkEnumeration, tkFloat, tkClass };
enum class TIntegerType { itLong, itWord };
enum class TFloatType { ftGeneral, ftDateTime, ftDate, ftTime };

// The enumerator names of an enumeration, in ordinal order.
struct TEnumTypeInfo {
    QString Name;
    QStringList Names;
    // Ordinal of a name, compared without regard to letter case; -1 when none.
    int IndexOf(const QString& name) const;
};
// "False", "True".
const TEnumTypeInfo& BooleanTypeInfo();

// One member (property or field) of a persisted class.
class TPersistMember {
public:
    QString Name;
    bool IsField = false;
    TTypeKind Kind = TTypeKind::tkString;
    TIntegerType IntegerType = TIntegerType::itLong;
    TFloatType FloatType = TFloatType::ftGeneral;
    const TEnumTypeInfo* EnumType = nullptr;
    const TPersistClass& (*ClassRef)() = nullptr; // declared class of a class-typed member
    const TPersistClass* Declarer = nullptr;
    std::optional<PersistMember> Persist;
    bool HasStringValue = false;
    bool HasStringNamedValue = false;
    bool IsKeyField = false;

    // Values travel as QVariant: integers as int, texts as QString,
    // enumerations (Boolean included) as their ordinal int, floating point
    // and date-times as double.
    std::function<QVariant(const TPersistent&)> Getter;
    std::function<void(TPersistent&, const QVariant&)> Setter;
    // The sub-object of a class-typed member (it is never created by a load).
    std::function<TPersistent*(TPersistent&)> ObjectGetter;

    bool Readable() const { return bool(Getter) || bool(ObjectGetter); }
    bool Writable() const { return bool(Setter) || bool(ObjectGetter); }
    bool IsBoolean() const { return EnumType == &BooleanTypeInfo(); }
    bool SavesValue() const { return Persist && Persist->Save; }
    bool LoadsValue() const { return Persist && Persist->Load; }
};

// ---- lists

// Enumerator of a list as the engine sees it.
class TObjEnumerator {
public:
    virtual ~TObjEnumerator() = default;
    virtual bool MoveNext() = 0;
    virtual TPersistent* CurrentObject() const = 0;
};
// Creates a new item of a list, already attached to the list.
class TObjFactory {
public:
    virtual ~TObjFactory() = default;
    virtual TPersistent* CreateObject() = 0;
    // Destroys an object that CreateObject made (it leaves the list again).
    virtual void DestroyObject(TPersistent* object) = 0;
};

struct TListInfo {
    QString EnumeratorName;                       // class name of the enumerator
    const TPersistClass& (*ItemType)() = nullptr; // declared type of the enumerator's Current
    std::function<std::unique_ptr<TObjEnumerator>(TPersistent&)> GetEnumerator;
    std::function<std::unique_ptr<TObjFactory>(TPersistent&)> GetFactory;
};

// ---- classes

class TPersistClass {
public:
    QString Name;
    const TPersistClass* Parent = nullptr;
    std::optional<PersistVersion> Version;
    bool IsPersistEnumerator = false;
    std::optional<TListInfo> List;
    std::vector<TPersistMember> Members; // declared by this class, in declaration order

    // Every member: this class's declarations first, then its base class's, and so on.
    std::vector<const TPersistMember*> AllMembers() const;
    // The most derived declaration of a member, the name compared without regard to case.
    const TPersistMember* FindMember(const QString& name) const;
    // The most derived list declaration.
    const TListInfo* FindList() const;
    bool InheritsFrom(const TPersistClass& other) const;
    QString VersionText() const { return Version ? Version->Version : QString(); }
};

// ---- registration tables

// Keeps a finished table for the whole run and fills in the declarer of its members.
const TPersistClass& RegisterPersistClass(TPersistClass cls);

namespace PersistDetail {

template <class C> C& Cast(TPersistent& object) {
    auto* p = dynamic_cast<C*>(&object);
    TV_ASSERT(p != nullptr);
    return *p;
}
template <class C> const C& Cast(const TPersistent& object) {
    const auto* p = dynamic_cast<const C*>(&object);
    TV_ASSERT(p != nullptr);
    return *p;
}

template <class V> QVariant ToVariant(const V& value) {
    if constexpr (std::is_same_v<V, bool> || std::is_enum_v<V> || std::is_same_v<V, quint16>)
        return QVariant(int(value));
    else if constexpr (std::is_same_v<V, TDateTime>)
        return QVariant(value.Value());
    else
        return QVariant::fromValue(value);
}

template <class V> V FromVariant(const QVariant& value) {
    if constexpr (std::is_same_v<V, bool>)
        return value.toInt() != 0;
    else if constexpr (std::is_enum_v<V>)
        return static_cast<V>(value.toInt());
    else if constexpr (std::is_same_v<V, TDateTime>)
        return TDateTime(value.toDouble());
    else if constexpr (std::is_same_v<V, quint16>)
        return static_cast<quint16>(value.toInt());
    else
        return value.value<V>();
}

inline void ApplyMark(TPersistMember& m, const PersistMember& mark) {
    m.Persist = mark;
}
inline void ApplyMark(TPersistMember& m, const StringValue&) {
    m.HasStringValue = true;
}
inline void ApplyMark(TPersistMember& m, const StringNamedValue&) {
    m.HasStringValue = true;
    m.HasStringNamedValue = true;
}
inline void ApplyMark(TPersistMember& m, const KeyField&) {
    m.IsKeyField = true;
}
// A date-time member may be narrowed to date only or time only.
inline void ApplyMark(TPersistMember& m, TFloatType type) {
    m.FloatType = type;
}

template <class V> void SetKind(TPersistMember& m) {
    if constexpr (std::is_same_v<V, bool>) {
        m.Kind = TTypeKind::tkEnumeration;
        m.EnumType = &BooleanTypeInfo();
    } else if constexpr (std::is_enum_v<V>) {
        m.Kind = TTypeKind::tkEnumeration;
        m.EnumType = &EnumTypeInfoOf(V{}); // found by argument-dependent lookup
    } else if constexpr (std::is_same_v<V, quint16>) {
        m.Kind = TTypeKind::tkInteger;
        m.IntegerType = TIntegerType::itWord;
    } else if constexpr (std::is_same_v<V, int>) {
        m.Kind = TTypeKind::tkInteger;
        m.IntegerType = TIntegerType::itLong;
    } else if constexpr (std::is_same_v<V, QString>) {
        m.Kind = TTypeKind::tkString;
    } else if constexpr (std::is_same_v<V, double>) {
        m.Kind = TTypeKind::tkFloat;
        m.FloatType = TFloatType::ftGeneral;
    } else if constexpr (std::is_same_v<V, TDateTime>) {
        m.Kind = TTypeKind::tkFloat;
        m.FloatType = TFloatType::ftDateTime;
    } else {
        static_assert(sizeof(V) == 0, "value kind that the persistence engine cannot handle");
    }
}

} // namespace PersistDetail

// Builds the metadata of class C:
//   static const TPersistClass cls = TClassBuilder<TFoo>("TFoo", &TBase::StaticClass())
//       .Mark(PersistVersion{"1.0"})
//       .Property("Name", &TFoo::Name, &TFoo::SetName, PersistMember{}, StringNamedValue{})
//       .Register();
template <class C> class TClassBuilder {
public:
    TClassBuilder(const QString& name, const TPersistClass* parent) {
        FClass.Name = name;
        FClass.Parent = parent;
    }

    TClassBuilder& Mark(const PersistVersion& version) {
        FClass.Version = version;
        return *this;
    }
    TClassBuilder& Mark(const PersistEnumerator&) {
        FClass.IsPersistEnumerator = true;
        return *this;
    }

    // A readable and writable property.
    template <class G, class S, class... Marks>
    TClassBuilder& Property(const QString& name, G getter, S setter, const Marks&... marks) {
        using V = std::remove_cvref_t<std::invoke_result_t<G, const C&>>;
        TPersistMember m = NewMember<V>(name, marks...);
        m.Getter = [getter](const TPersistent& o) {
            return PersistDetail::ToVariant<V>(std::invoke(getter, PersistDetail::Cast<C>(o)));
        };
        m.Setter = [setter](TPersistent& o, const QVariant& v) {
            std::invoke(setter, PersistDetail::Cast<C>(o), PersistDetail::FromVariant<V>(v));
        };
        FClass.Members.push_back(std::move(m));
        return *this;
    }

    // A read-only property: shown, never persisted.
    template <class G, class... Marks>
    TClassBuilder& ReadOnlyProperty(const QString& name, G getter, const Marks&... marks) {
        using V = std::remove_cvref_t<std::invoke_result_t<G, const C&>>;
        TPersistMember m = NewMember<V>(name, marks...);
        m.Getter = [getter](const TPersistent& o) {
            return PersistDetail::ToVariant<V>(std::invoke(getter, PersistDetail::Cast<C>(o)));
        };
        FClass.Members.push_back(std::move(m));
        return *this;
    }

    // A data member handled like a property (fields come before properties).
    template <class V, class... Marks>
    TClassBuilder& Field(const QString& name, V C::*field, const Marks&... marks) {
        TPersistMember m = NewMember<V>(name, marks...);
        m.IsField = true;
        m.Getter = [field](const TPersistent& o) {
            return PersistDetail::ToVariant<V>(PersistDetail::Cast<C>(o).*field);
        };
        m.Setter = [field](TPersistent& o, const QVariant& v) {
            PersistDetail::Cast<C>(o).*field = PersistDetail::FromVariant<V>(v);
        };
        FClass.Members.push_back(std::move(m));
        return *this;
    }

    // A member whose value is a sub-object of class Sub that the object owns.
    template <class Sub, class G, class... Marks>
    TClassBuilder& ObjectProperty(const QString& name, G getter, const Marks&... marks) {
        TPersistMember m;
        m.Name = name;
        m.Kind = TTypeKind::tkClass;
        m.ClassRef = &Sub::StaticClass;
        (PersistDetail::ApplyMark(m, marks), ...);
        m.ObjectGetter = [getter](TPersistent& o) -> TPersistent* {
            return std::invoke(getter, PersistDetail::Cast<C>(o));
        };
        FClass.Members.push_back(std::move(m));
        return *this;
    }

    // The list contract: an enumerator (class name and item class) and a
    // factory that creates items attached to the list.
    template <class GetEnum, class GetFactory>
    TClassBuilder& List(const QString& enumeratorName, const TPersistClass& (*itemType)(),
                        GetEnum getEnumerator, GetFactory getFactory) {
        TListInfo list;
        list.EnumeratorName = enumeratorName;
        list.ItemType = itemType;
        list.GetEnumerator = [getEnumerator](TPersistent& o) -> std::unique_ptr<TObjEnumerator> {
            return std::invoke(getEnumerator, PersistDetail::Cast<C>(o));
        };
        list.GetFactory = [getFactory](TPersistent& o) -> std::unique_ptr<TObjFactory> {
            return std::invoke(getFactory, PersistDetail::Cast<C>(o));
        };
        FClass.List = std::move(list);
        return *this;
    }

    // Finishes the table; the result lives as long as the program.
    const TPersistClass& Register() { return RegisterPersistClass(std::move(FClass)); }

private:
    template <class V, class... Marks>
    TPersistMember NewMember(const QString& name, const Marks&... marks) {
        TPersistMember m;
        m.Name = name;
        PersistDetail::SetKind<V>(m);
        (PersistDetail::ApplyMark(m, marks), ...);
        return m;
    }

    TPersistClass FClass;
};

// ---- display names

// The program-wide registry of member display names: per class, lines of the
// form name=display name.
class TNamedProperties {
public:
    // Creates the class's table when it has none and replaces its content with
    // the lines of the text (separated by CR LF or LF).
    void CreateNamedPropertiesForClass(const TPersistClass& cls, const QString& namesAndValues);
    // The display name registered for the member in the table of the class that
    // declares it; empty when there is none (names compared without regard to case).
    QString GetName(const TPersistMember& member) const;
    // The class's table, or null.
    const QStringList* GetNames(const TPersistClass& cls) const;

private:
    std::map<const TPersistClass*, QStringList> FTables;
};

TNamedProperties& NamedProperties();

// Value of "name=value" lines for a name compared without regard to case.
QString NameValueLookup(const QStringList& lines, const QString& name);
