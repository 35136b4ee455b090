#include "ArchiveMaker.h"

#include <QProcess>
#include <QtTest>

namespace {

void PutOctal(QByteArray& header, int offset, int width, qint64 value) {
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    for (int i = 0; i < width - 1; ++i)
        header[offset + i] = digits.at(i);
    header[offset + width - 1] = '\0';
}

void PutText(QByteArray& header, int offset, const QByteArray& text) {
    for (int i = 0; i < text.size(); ++i)
        header[offset + i] = text.at(i);
}

} // namespace

QByteArray MakeTar(const QList<TTarEntry>& entries) {
    QByteArray out;
    for (const TTarEntry& e : entries) {
        QByteArray header(512, '\0');
        PutText(header, 0, e.Name.toUtf8());
        PutOctal(header, 100, 8, e.Type == '5' ? 0755 : 0644);
        PutOctal(header, 108, 8, 0);
        PutOctal(header, 116, 8, 0);
        PutOctal(header, 124, 12, e.Type == '0' ? e.Content.size() : 0);
        PutOctal(header, 136, 12, 1700000000);
        header[156] = e.Type;
        PutText(header, 157, e.LinkName.toUtf8());
        PutText(header, 257, "ustar");
        PutText(header, 263, "00");
        PutText(header, 148, "        ");
        int sum = 0;
        for (char c : header)
            sum += static_cast<unsigned char>(c);
        PutOctal(header, 148, 7, sum);
        header[155] = ' ';
        out += header;
        if (e.Type == '0') {
            out += e.Content;
            out += QByteArray((512 - e.Content.size() % 512) % 512, '\0');
        }
    }
    out += QByteArray(1024, '\0');
    return out;
}

void Make7z(const QString& archive, const QString& folder, const QStringList& names) {
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("7zz"), QStringList{QStringLiteral("a"), QStringLiteral("-snl"),
                                               QStringLiteral("-bso0"), archive} +
                                       names);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
}
