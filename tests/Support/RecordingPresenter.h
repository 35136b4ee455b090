#pragma once

#include "Common/Error/CustomException.h"

#include <QString>
#include <QStringList>

#include <exception>

// An exception presenter that only records the message of each error shown.
class TRecordingPresenter : public IExceptionPresenter {
public:
    QStringList FShown;
    void Present(const std::exception& error, const QString&, const QString&,
                 const QString&) override {
        FShown << QString::fromUtf8(error.what());
    }
};
