#pragma once

#include <QObject>

// Turns SIGTERM, SIGINT and SIGHUP into an orderly end of the event loop
// (QCoreApplication::quit), so the tear-down runs when the session ends.
class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;
    // True once a termination signal arrived; the main event loop is then
    // not entered any more.
    static bool Requested();
};
