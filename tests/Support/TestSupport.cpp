#include "Support/TestSupport.h"

QString TestDataPath(const QString& relative) {
    const QString base = QStringLiteral(TV_TEST_DATA_DIR);
    return relative.isEmpty() ? base : base + QLatin1Char('/') + relative;
}
