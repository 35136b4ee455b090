#include "Common/Rights/Rights.h"

#include "Platform/Runtime/Exception.h"

#include <algorithm>
#include <exception>

TRight::TRight(TRights* owner, quint8 position) : FPosition(position), FOwner(owner) {
    TV_ASSERT(owner != nullptr);
}

void TRight::SetValue(TRightValue value) {
    if (value == FValue)
        return;
    FValue = value;
    FOwner->DoChange(this);
}

TRights::TRights() {
    for (int i = 0; i < RightCount; ++i)
        FRights[i] = std::make_unique<TRight>(this, quint8(i));
}

void TRights::EndUpdate() {
    TV_ASSERT(FUpdateCount > 0);
    if (--FUpdateCount == 0)
        DoChange(nullptr);
}

void TRights::DoChange(TRight* right) {
    if (FOnChange)
        FOnChange(right);
}

TRight& TRights::Rights(int index) {
    TV_ASSERT(index >= 0 && index < RightCount);
    return *FRights[index];
}

const TRight& TRights::Rights(int index) const {
    TV_ASSERT(index >= 0 && index < RightCount);
    return *FRights[index];
}

bool TRights::CharToValue(QChar c, TRightValue& value) {
    if (c < QLatin1Char('0') || c > QLatin1Char('4'))
        return false;
    value = TRightValue(c.unicode() - '0');
    return true;
}

namespace {

// Ends an update on every exit path. While another error is on its way out,
// an error of the change handler is dropped so that the first one arrives.
class TUpdateScope {
public:
    explicit TUpdateScope(TRights& rights)
        : FRights(rights), FUncaught(std::uncaught_exceptions()) {
        FRights.BeginUpdate();
    }
    ~TUpdateScope() noexcept(false) {
        if (std::uncaught_exceptions() == FUncaught) {
            FRights.EndUpdate();
            return;
        }
        try {
            FRights.EndUpdate();
        } catch (...) {
        }
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
    TRights& FRights;
    int FUncaught;
};

} // namespace

void TRights::Clear() {
    TUpdateScope update(*this);
    for (auto& right : FRights)
        right->SetValue(rvNone);
}

void TRights::AssignFromString(const QString& rights) {
    TUpdateScope update(*this);
    Clear();
    const qsizetype n = std::min<qsizetype>(rights.size(), MaxStringLength);
    for (qsizetype i = 0; i < n; ++i) {
        TRightValue value = rvNone;
        if (CharToValue(rights.at(i), value))
            FRights[i + 1]->SetValue(value);
    }
}

void TRights::AddFromString(const QString& rights) {
    TUpdateScope update(*this);
    const qsizetype n = std::min<qsizetype>(rights.size(), MaxStringLength);
    for (qsizetype i = 0; i < n; ++i) {
        TRightValue value = rvNone;
        if (CharToValue(rights.at(i), value) && value > FRights[i + 1]->Value())
            FRights[i + 1]->SetValue(value);
    }
}
