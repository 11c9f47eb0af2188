#include "logfile.h"
#include "regmap/cp1250.h"
#include "regmap/error.h"
#include <QFileInfo>
#include <QSaveFile>

QByteArray LogFileBytes(const QString& logText) {
    QString text = logText;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace('\n', QLatin1String("\r\n"));
    return StringToCp1250(text);
}

void SaveLogFile(const QString& path, const QString& logText) {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QSaveFile file(fullPath);
    const QByteArray bytes = LogFileBytes(logText);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw AppError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath, file.errorString()));
}

QString LogPathFor(const QString& executablePath) {
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString base = dot > 0 ? name.left(dot) : name;
    return info.absolutePath() + '/' + base + QStringLiteral(".log");
}
