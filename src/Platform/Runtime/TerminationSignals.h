#pragma once

#include <QObject>

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end of the event loop
// (QCoreApplication::quit), so the tear-down runs when the session ends.
class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;
};
