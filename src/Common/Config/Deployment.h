#pragma once

#include <QStringList>

// Support contacts of the deployment, from the deployment data compiled into
// the program (":/deploy/deployment.json", its "support" object).
struct TSupportContacts {
    QStringList Phones;
    QString Email;
};
const TSupportContacts& SupportContacts();
