#pragma once

// The user's rights: a fixed table of 256 numbered rights, each with a level
// from none to delete, filled from the database's rights string at connect.

#include <QString>

#include <array>
#include <functional>
#include <memory>

// A higher level includes every lower one.
enum TRightValue { rvNone, rvRead, rvWrite, rvNew, rvDelete };

class TRights;

class TRight {
public:
    TRight(TRights* owner, quint8 position);

    quint8 Position() const { return FPosition; }
    TRightValue Value() const { return FValue; }
    // Stores a differing level and notifies the owner.
    void SetValue(TRightValue value);
    const QString& ValueText() const { return FValueText; }
    void SetValueText(const QString& value) { FValueText = value; }
    const QString& PositionText() const { return FPositionText; }
    void SetPositionText(const QString& value) { FPositionText = value; }

    bool HasAny() const { return FValue != rvNone; }
    bool CanRead() const { return FValue != rvNone; }
    bool CanWrite() const { return FValue >= rvWrite; }
    bool CanCreate() const { return FValue >= rvNew; }
    bool CanDelete() const { return FValue == rvDelete; }

private:
    quint8 FPosition;
    TRightValue FValue = rvNone;
    TRights* FOwner;
    QString FValueText;
    QString FPositionText;
};

// Called with the right whose level changed, or with null at the end of an
// outermost update.
using TRightChangeEvent = std::function<void(TRight* right)>;

class TRights {
public:
    static constexpr int RightCount = 256;
    // The rights string has room for rights 1 to 255.
    static constexpr int MaxStringLength = RightCount - 1;

    TRights();
    TRights(const TRights&) = delete;
    TRights& operator=(const TRights&) = delete;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    // Every right to rvNone.
    void Clear();

    // Character k of the string (counting from 1) gives the level of right k:
    // '0' none, '1' read, '2' write, '3' new, '4' delete. Right 0 is never
    // set from a string. Characters past the 255th are ignored, and so is
    // any character other than '0' to '4' (its right keeps the level the
    // operation leaves it at).
    //
    // Replaces the table's content with the string.
    void AssignFromString(const QString& rights);
    // Raises rights to the string's levels, never lowers them.
    void AddFromString(const QString& rights);

    // The right with the number (0 to 255).
    TRight& Rights(int index);
    const TRight& Rights(int index) const;
    TRight& operator[](int index) { return Rights(index); }
    const TRight& operator[](int index) const { return Rights(index); }

    const TRightChangeEvent& OnChange() const { return FOnChange; }
    void SetOnChange(TRightChangeEvent handler) { FOnChange = std::move(handler); }

    // The level of a rights-string character; false for any other character.
    static bool CharToValue(QChar c, TRightValue& value);

private:
    friend class TRight;
    void DoChange(TRight* right);

    std::array<std::unique_ptr<TRight>, RightCount> FRights;
    int FUpdateCount = 0;
    TRightChangeEvent FOnChange;
};
