#include "Common/Config/Deployment.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

const TSupportContacts& SupportContacts() {
    static const TSupportContacts contacts = [] {
        TSupportContacts result;
        QFile file(QStringLiteral(":/deploy/deployment.json"));
        if (!file.open(QIODevice::ReadOnly))
            return result;
        const QJsonObject support = QJsonDocument::fromJson(file.readAll())
                                        .object()
                                        .value(QStringLiteral("support"))
                                        .toObject();
        for (const QJsonValue& phone : support.value(QStringLiteral("phones")).toArray())
            result.Phones << phone.toString();
        result.Email = support.value(QStringLiteral("email")).toString();
        return result;
    }();
    return contacts;
}
