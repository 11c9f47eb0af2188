#include "standards.h"
#include "regmap/error.h"
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

QString StandardsFilePath(const QString& dataFolder) {
    return dataFolder + QStringLiteral("/wzorce.json");
}

QList<ReferenceStandard> ReadStandards(const QByteArray& json, const QString& fileName) {
    auto refuse = [&](const QString& path, const QString& why) {
        return AppError(QStringLiteral("%1: \"%2\": %3").arg(fileName, path, why));
    };
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject() || !doc.object().value(QStringLiteral("standards")).isArray())
        throw AppError(QStringLiteral("%1: potrzebny obiekt JSON z listą \"standards\" (%2)")
                           .arg(fileName, error.errorString()));
    if (doc.object().size() != 1)
        throw AppError(QStringLiteral("%1: jedyny klucz to \"standards\"").arg(fileName));
    static const QStringList texts{"id",          "description", "model", "serialNumber",
                                   "certificate", "lab",         "unit"};
    static const QStringList known = texts + QStringList{"U", "k", "due"};
    QList<ReferenceStandard> standards;
    const QJsonArray list = doc.object().value(QStringLiteral("standards")).toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString at = QStringLiteral("standards[%1]").arg(i);
        if (!list[i].isObject()) throw refuse(at, QStringLiteral("potrzebny obiekt"));
        const QJsonObject o = list[i].toObject();
        ReferenceStandard s;
        QString* fields[] = {&s.id,          &s.description, &s.model, &s.serialNumber,
                             &s.certificate, &s.lab,         &s.unit};
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString path = at + '.' + it.key();
            const qsizetype text = texts.indexOf(it.key());
            if (text >= 0) {
                if (!it.value().isString()) throw refuse(path, QStringLiteral("potrzebny tekst"));
                *fields[text] = it.value().toString();
            } else if (it.key() == QLatin1String("U") || it.key() == QLatin1String("k")) {
                const double v = it.value().toDouble(-1);
                if (!it.value().isDouble() || !std::isfinite(v) || v < 0 ||
                    (it.key() == QLatin1String("k") && v == 0))
                    throw refuse(path, QStringLiteral("potrzebna liczba dodatnia"));
                (it.key() == QLatin1String("U") ? s.U : s.k) = v;
            } else if (it.key() == QLatin1String("due")) {
                s.due = QDate::fromString(it.value().toString(), Qt::ISODate);
                if (!s.due.isValid())
                    throw refuse(path, QStringLiteral("potrzebna data RRRR-MM-DD"));
            } else {
                throw refuse(path, QStringLiteral("nieznany klucz (%1)").arg(known.join(", ")));
            }
        }
        if (s.id.trimmed().isEmpty()) throw refuse(at + ".id", QStringLiteral("brak klucza"));
        if (FindStandard(standards, s.id))
            throw refuse(at + ".id", QStringLiteral("wzorzec \"%1\" już jest").arg(s.id));
        standards << s;
    }
    return standards;
}

QList<ReferenceStandard> ReadStandardsFile(const QString& path) {
    QFile file(path);
    if (!QFileInfo::exists(path)) return {};
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("%1: nie można otworzyć pliku wzorców").arg(name));
    return ReadStandards(file.read(1024 * 1024), name);
}

QByteArray StandardsJson(const QList<ReferenceStandard>& standards) {
    QJsonArray list;
    for (const ReferenceStandard& s : standards) {
        QJsonObject o;
        const std::pair<const char*, const QString*> texts[] = {{"id", &s.id},
                                                                {"description", &s.description},
                                                                {"model", &s.model},
                                                                {"serialNumber", &s.serialNumber},
                                                                {"certificate", &s.certificate},
                                                                {"lab", &s.lab},
                                                                {"unit", &s.unit}};
        for (const auto& [key, value] : texts)
            if (!value->isEmpty()) o.insert(QLatin1String(key), *value);
        o.insert(QStringLiteral("U"), s.U);
        o.insert(QStringLiteral("k"), s.k);
        if (s.due.isValid()) o.insert(QStringLiteral("due"), s.due.toString(Qt::ISODate));
        list.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("standards"), list}}).toJson();
}

const ReferenceStandard* FindStandard(const QList<ReferenceStandard>& standards,
                                      const QString& id) {
    for (const ReferenceStandard& s : standards)
        if (s.id == id) return &s;
    return nullptr;
}
