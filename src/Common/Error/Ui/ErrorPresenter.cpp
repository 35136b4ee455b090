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
    PresentMessage(caption, title, message);
}

void TMessageBoxPresenter::PresentMessage(const QString& caption, const QString& title,
                                          const QString& message) {
    QMessageBox box(QMessageBox::Critical, caption, QString(), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setObjectName(QStringLiteral("ErrorForm"));
    // The title in bold, the message below it as plain text.
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<b>%1</b>").arg(title.toHtmlEscaped()));
    box.setInformativeText(
        message.toHtmlEscaped().replace(QLatin1String("\r\n"), QLatin1String("<br>")));
    box.exec();
}
