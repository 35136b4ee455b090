#include "Common/Error/Ui/ErrorPresenter.h"

#include "Common/Error/ExceptionInfo.h"

#include <QApplication>
#include <QMessageBox>

std::pair<QString, QString> TMessageBoxPresenter::Texts(const std::exception& error,
                                                        const QString& titleFmt,
                                                        const QString& messageFmt) {
    TExceptionInfo info;
    info.SetExceptObject(&error);
    // A program exception with no formats shows its own title and message.
    if (info.IsExtendedException() && titleFmt.isEmpty() && messageFmt.isEmpty())
        return {info.Title(), info.Message()};
    return {info.GetTitleFmt(titleFmt), info.GetMessageFmt(messageFmt)};
}

void TMessageBoxPresenter::Present(const std::exception& error, const QString& caption,
                                   const QString& titleFmt, const QString& messageFmt) {
    const auto [title, message] = Texts(error, titleFmt, messageFmt);
    QMessageBox box(QMessageBox::Critical, caption, title, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorForm"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(message);
    QFont bold = box.font();
    bold.setBold(true);
    box.setFont(bold);
    box.exec();
}
