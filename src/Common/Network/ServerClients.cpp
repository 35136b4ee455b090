#include "Common/Network/ServerClients.h"

#include "Platform/Runtime/Exception.h"

#include <QUuid>

TClient::TClient(const QString& id) : FId(id), FStarted(TDateTime::Now()) {
    TV_ASSERT(!id.isEmpty());
}

QString TClient::DisplayNames() {
    return QStringLiteral("Id=Folyamat azonosító\r\nPort=Port\r\nAddress=Kliens címe\r\n"
                          "UserName=Felhasználó\r\nVersion=Verzió\r\nStarted=Létrejött\r\n"
                          "Application=Alkalmazás");
}

TClientsEnumerator::TClientsEnumerator(TClients& list) : FList(list), FLock(list.FLock) {}

bool TClientsEnumerator::MoveNext() {
    ++FIndex;
    return FIndex < int(FList.FItems.size());
}

TClient* TClientsEnumerator::Current() const {
    return FList.FItems.at(size_t(FIndex)).get();
}

TClients& TClients::Acquire() {
    FLock.lock();
    return *this;
}

void TClients::Release() {
    FLock.unlock();
}

void TClients::LoadFrom(std::vector<std::unique_ptr<TClient>> list) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FItems.clear();
    for (auto& client : list)
        FItems.push_back(std::move(client));
}

TClient* TClients::NewClient() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FItems.push_back(
        std::make_unique<TClient>(QUuid::createUuid().toString(QUuid::WithBraces).toUpper()));
    return FItems.back().get();
}

void TClients::Remove(const QString& id) {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    for (auto it = FItems.begin(); it != FItems.end(); ++it) {
        if ((*it)->Id() == id) {
            FItems.erase(it);
            return;
        }
    }
}

void TClients::Clear() {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    FItems.clear();
}

int TClients::Count() const {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return int(FItems.size());
}

TClient* TClients::Item(int index) const {
    std::lock_guard<std::recursive_mutex> guard(FLock);
    return FItems.at(size_t(index)).get();
}
