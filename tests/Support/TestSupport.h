#pragma once

#include <QString>

// Folder of the test data files (tests/Data).
QString TestDataPath(const QString& relative = QString());
