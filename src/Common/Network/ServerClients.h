#pragma once

// The client programs connected to the application server, as the server
// lists them.

#include "Common/Repository/DateTime.h"

#include <QString>

#include <memory>
#include <mutex>
#include <vector>

class TClient {
public:
    // The identity must not be empty; a new record starts now with no login tries.
    explicit TClient(const QString& id);

    const QString& Id() const { return FId; }
    quint16 Port() const { return FPort; }
    void SetPort(quint16 value) { FPort = value; }
    const QString& Address() const { return FAddress; }
    void SetAddress(const QString& value) { FAddress = value; }
    const QString& UserName() const { return FUserName; }
    void SetUserName(const QString& value) { FUserName = value; }
    const QString& Version() const { return FVersion; }
    void SetVersion(const QString& value) { FVersion = value; }
    TDateTime Started() const { return FStarted; }
    void SetStarted(TDateTime value) { FStarted = value; }
    const QString& Application() const { return FApplication; }
    void SetApplication(const QString& value) { FApplication = value; }
    qint32 LoginTries() const { return FLoginTries; }
    void SetLoginTries(qint32 value) { FLoginTries = value; }

    // The display names of the fields (name=display name lines), registered
    // once at start-up.
    static QString DisplayNames();

private:
    QString FId;
    quint16 FPort = 0;
    QString FAddress;
    QString FUserName;
    QString FVersion;
    TDateTime FStarted;
    QString FApplication;
    qint32 FLoginTries = 0;
};

class TClients;

// Walks the list; holds the list's lock from its creation until it is destroyed.
class TClientsEnumerator {
public:
    explicit TClientsEnumerator(TClients& list);
    bool MoveNext();
    TClient* Current() const;

private:
    TClients& FList;
    std::unique_lock<std::recursive_mutex> FLock;
    int FIndex = -1;
};

// A thread-safe list that owns its clients; every operation locks the list.
class TClients {
public:
    TClients() = default;
    TClients(const TClients&) = delete;
    TClients& operator=(const TClients&) = delete;

    // Locks the list for a series of operations; Release unlocks it.
    TClients& Acquire();
    void Release();

    // Empties the list, then takes over every client of AList in order.
    void LoadFrom(std::vector<std::unique_ptr<TClient>> list);
    // A new client with a new identity, added at the end.
    TClient* NewClient();
    // Destroys the first client with that identity, if any.
    void Remove(const QString& id);
    void Clear();
    int Count() const;
    TClient* Item(int index) const;
    TClientsEnumerator GetEnumerator() { return TClientsEnumerator(*this); }

private:
    friend class TClientsEnumerator;
    mutable std::recursive_mutex FLock;
    std::vector<std::unique_ptr<TClient>> FItems;
};
