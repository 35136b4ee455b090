#include "Common/Repository/PersistMeta.h"

#include "Common/Repository/ValueText.h"

#include <QLocale>

#include <deque>

QString TPersistent::ClassName() const {
    return ClassType().Name;
}

int TEnumTypeInfo::IndexOf(const QString& name) const {
    for (int i = 0; i < Names.size(); ++i) {
        if (Names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

const TEnumTypeInfo& BooleanTypeInfo() {
    static const TEnumTypeInfo info{QStringLiteral("Boolean"),
                                    {QStringLiteral("False"), QStringLiteral("True")}};
    return info;
}

std::vector<const TPersistMember*> TPersistClass::AllMembers() const {
    std::vector<const TPersistMember*> result;
    for (const TPersistClass* c = this; c != nullptr; c = c->Parent) {
        for (const TPersistMember& m : c->Members)
            result.push_back(&m);
    }
    return result;
}

const TPersistMember* TPersistClass::FindMember(const QString& name) const {
    for (const TPersistClass* c = this; c != nullptr; c = c->Parent) {
        for (const TPersistMember& m : c->Members) {
            if (m.Name.compare(name, Qt::CaseInsensitive) == 0)
                return &m;
        }
    }
    return nullptr;
}

const TListInfo* TPersistClass::FindList() const {
    for (const TPersistClass* c = this; c != nullptr; c = c->Parent) {
        if (c->List)
            return &*c->List;
    }
    return nullptr;
}

bool TPersistClass::InheritsFrom(const TPersistClass& other) const {
    for (const TPersistClass* c = this; c != nullptr; c = c->Parent) {
        if (c == &other)
            return true;
    }
    return false;
}

const TPersistClass& RegisterPersistClass(TPersistClass cls) {
    // A deque never moves what it holds, so the references handed out stay valid.
    static std::deque<TPersistClass> registry;
    TPersistClass& stored = registry.emplace_back(std::move(cls));
    for (TPersistMember& m : stored.Members)
        m.Declarer = &stored;
    return stored;
}

// ---- display names

QString NameValueLookup(const QStringList& lines, const QString& name) {
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return {};
}

void TNamedProperties::CreateNamedPropertiesForClass(const TPersistClass& cls,
                                                     const QString& namesAndValues) {
    QString text = namesAndValues;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    FTables[&cls] = lines;
}

QString TNamedProperties::GetName(const TPersistMember& member) const {
    if (member.Declarer == nullptr)
        return {};
    const QStringList* table = GetNames(*member.Declarer);
    return table != nullptr ? NameValueLookup(*table, member.Name) : QString();
}

const QStringList* TNamedProperties::GetNames(const TPersistClass& cls) const {
    const auto it = FTables.find(&cls);
    return it == FTables.end() ? nullptr : &it->second;
}

TNamedProperties& NamedProperties() {
    static TNamedProperties registry;
    return registry;
}

// ---- display forms

QString StringValue::GetValue(const TPersistMember& member, const TPersistent& object) {
    TV_ASSERT(member.Getter);
    return ValueText::ToDisplayText(member, member.Getter(object), QLocale());
}

void StringValue::SetValue(const TPersistMember& member, TPersistent& object,
                           const QString& value) {
    TV_ASSERT(member.Setter);
    member.Setter(object, ValueText::FromDisplayText(member, value, QLocale()));
}

QString StringNamedValue::GetName(const TPersistMember& member) {
    const QString name = NamedProperties().GetName(member);
    return name.isEmpty() ? member.Name : name;
}
