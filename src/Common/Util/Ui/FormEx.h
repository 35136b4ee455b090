#pragma once

// Base classes of the program's windows and frames: button images from the
// shared image lists, a refresh hook that cascades from a window to its
// frames, and an optional rule of one window per class.

#include "Common/Error/CustomException.h"

#include <QDialog>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QWidget>
#include <functional>

class TFrameEx;

// The error of the one-window-per-class rule.
class EForm : public ECustom {
public:
    using ECustom::ECustom;
    TV_EXCEPTION_RAISE(EForm)
};

// What every window and frame adds, independent of its widget class.
class TFormExBase {
public:
    virtual ~TFormExBase() = default;
    // Refreshes the window's own texts, then those of the frames inside it.
    virtual void RefreshUI();

protected:
    // The end of building a window: button images, then RefreshUI.
    void Loaded();
    virtual QWidget* Widget() = 0;
};

// The one registered window of each class.
class TGlobalForms {
public:
    static TGlobalForms& Instance();
    // Registers the window; a second window of a registered class raises EForm.
    void Register(QWidget* form, const QString& className);
    void Unregister(QWidget* form);
    QWidget* GetForm(const QString& className) const;

private:
    QHash<QString, QPointer<QWidget>> FList;
};

template <class Base> class TFormExT : public Base, public TFormExBase {
public:
    explicit TFormExT(QWidget* parent = nullptr) : Base(parent) {}
    ~TFormExT() override { SetUniqueInstance(false); }

    bool UniqueInstance() const { return FUniqueInstance; }
    void SetUniqueInstance(bool value) {
        if (value == FUniqueInstance)
            return;
        if (value)
            TGlobalForms::Instance().Register(this,
                                              QString::fromLatin1(this->metaObject()->className()));
        else
            TGlobalForms::Instance().Unregister(this);
        FUniqueInstance = value;
    }

protected:
    QWidget* Widget() override { return this; }

private:
    bool FUniqueInstance = false;
};

using TFormEx = TFormExT<QDialog>;
using TMainFormEx = TFormExT<QMainWindow>;

class TFrameEx : public QWidget, public TFormExBase {
    Q_OBJECT
public:
    explicit TFrameEx(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    QWidget* Widget() override { return this; }
};

// The registered window of class T, or a new one when none is registered.
// The window belongs to the caller when it is new (second of the pair true).
template <class T> T* FormInstance(std::unique_ptr<T>& created) {
    const QString className = QString::fromLatin1(T::staticMetaObject.className());
    if (QWidget* existing = TGlobalForms::Instance().GetForm(className))
        return static_cast<T*>(existing);
    created = std::make_unique<T>();
    return created.get();
}
