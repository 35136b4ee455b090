#pragma once

// The application's form factory: creates modules and windows into their
// process-wide references. The first window created this way becomes the
// application's main window.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <type_traits>

QWidget* ApplicationMainForm();
// Keeps a top-level window above another one (its popup parent).
void SetPopupParent(QWidget* window, QWidget* parent);
// The popup parent for a new modal window: the active window, or the main window.
QWidget* DefaultPopupParent();
void SetApplicationMainForm(QWidget* form);

// A class together with the reference that receives its instance.
struct TComponentClassRef {
    QString ClassName;
    std::function<void()> Create; // creates an instance into the reference
    std::function<void()> Free;   // frees the instance and empties the reference
    bool IsEmpty() const { return !Create || ClassName.isEmpty(); }
};

template <class T>
TComponentClassRef MakeComponentClassRef(const QString& className, std::unique_ptr<T>& reference) {
    TComponentClassRef ref;
    ref.ClassName = className;
    ref.Create = [&reference] {
        reference = std::make_unique<T>();
        if constexpr (std::is_base_of_v<QWidget, T>) {
            if (ApplicationMainForm() == nullptr)
                SetApplicationMainForm(reference.get());
        }
    };
    ref.Free = [&reference] {
        if constexpr (std::is_base_of_v<QWidget, T>) {
            if (ApplicationMainForm() == reference.get())
                SetApplicationMainForm(nullptr);
        }
        reference.reset();
    };
    return ref;
}
