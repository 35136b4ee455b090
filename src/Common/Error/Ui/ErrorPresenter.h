#pragma once

#include "Common/Error/CustomException.h"

// Shows errors in a message box: the caption, the title in bold and the
// message below it. Installed as the program's exception presenter.
class TMessageBoxPresenter : public IExceptionPresenter {
public:
    void Present(const std::exception& error, const QString& caption, const QString& titleFmt,
                 const QString& messageFmt) override;
    void PresentMessage(const QString& caption, const QString& title,
                        const QString& message) override;
    // The texts shown for an error: title and message.
    static std::pair<QString, QString> Texts(const std::exception& error, const QString& titleFmt,
                                             const QString& messageFmt);
};
