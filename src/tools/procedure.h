#pragma once
// A calibration procedure: NAME.procedure.json beside NAME.dat names, per range, the test
// points with their nominal reference values, the register read as the device's result in
// the unit, how many samples and how far apart, when a reading is stable, the tolerance, the
// display's resolution, the decision rule and how each point is adjusted.
#include "regmap/tree.h"
#include "tools/uncertainty.h"
#include <QList>
#include <QString>

struct ToleranceRule {
    enum class Kind { Absolute, PercentOfSpan, PercentOfReading } kind = Kind::Absolute;
    double value = 0;
};
// The tolerance in the unit at a reading, for a range spanning `span` units.
double ToleranceAt(const ToleranceRule& rule, double reading, double span);

struct Adjustment {
    enum class Kind {
        None,
        StoreMean,      // the mean of a raw register sampled at the point, into a register
        WriteReference, // the standard's actual value, into a register (the device corrects)
    } kind = Kind::None;
    QString sampleRegister; // StoreMean only
    QString targetRegister;
};

struct ProcedurePoint {
    QString id; // "100R"
    double nominal = 0;
    Adjustment adjust;
};

struct ProcedureRange {
    QString name, unit;
    double spanLow = 0, spanHigh = 0;
    QString resultRegister;
    int samples = 10;
    int spacingMs = 200;
    double stabilityBand = 0; // 0: no stability rule
    int stabilitySeconds = 0;
    ToleranceRule tolerance;
    double resolution = 0;
    DecisionRule rule = DecisionRule::Simple;
    QList<ProcedurePoint> points;
};

struct Procedure {
    QString title;
    QList<ProcedureRange> ranges;
    int pointCount() const;
};

// "…/TR100F.procedure.json" for "…/TR100F.dat".
QString ProcedureFilePath(const QString& devicePath);
// Reads and checks a procedure against the device's tree: an unknown key, a missing or bad
// value, or a register the tree has not (or cannot read or write as asked) throws AppError
// with the file, the key's path and the reason.
Procedure ReadProcedure(const QByteArray& json, const QString& fileName, const RegisterTree& tree);
Procedure ReadProcedureFile(const QString& path, const RegisterTree& tree);
