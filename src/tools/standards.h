#pragma once
// The reference standards a workshop calibrates against: wzorce.json in the data folder,
// each with its certificate, expanded uncertainty and when it is due again.
#include <QDate>
#include <QList>
#include <QString>

struct ReferenceStandard {
    QString id, description, model, serialNumber, certificate, lab, unit;
    double U = 0, k = 2; // expanded uncertainty and its coverage factor, in the unit
    QDate due;           // of its next calibration
    bool overdue(const QDate& on) const { return due.isValid() && on > due; }
};

// "…/wzorce.json" in the folder of the log.
QString StandardsFilePath(const QString& dataFolder);
// An empty list when there is no such file; an unknown key, a missing id, a bad number or
// date, or an id twice throws AppError with the file, the key's path and the reason.
QList<ReferenceStandard> ReadStandardsFile(const QString& path);
QList<ReferenceStandard> ReadStandards(const QByteArray& json, const QString& fileName);
// The file's text for the list, read back by ReadStandards as the same list; empty texts and
// a due date not given are left out.
QByteArray StandardsJson(const QList<ReferenceStandard>& standards);
const ReferenceStandard* FindStandard(const QList<ReferenceStandard>& standards, const QString& id);
