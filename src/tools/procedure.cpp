#include "procedure.h"
#include "regmap/error.h"
#include "txn/engine.h"
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

double ToleranceAt(const ToleranceRule& rule, double reading, double span) {
    switch (rule.kind) {
    case ToleranceRule::Kind::PercentOfSpan:
        return std::fabs(rule.value * span / 100);
    case ToleranceRule::Kind::PercentOfReading:
        return std::fabs(rule.value * reading / 100);
    case ToleranceRule::Kind::Absolute:
        break;
    }
    return std::fabs(rule.value);
}

int Procedure::pointCount() const {
    int n = 0;
    for (const ProcedureRange& r : ranges)
        n += int(r.points.size());
    return n;
}

QString ProcedureFilePath(const QString& devicePath) {
    const QFileInfo info(devicePath);
    return info.path() + '/' + info.completeBaseName() + QStringLiteral(".procedure.json");
}

namespace {

// Reads one JSON object's keys, refusing those it does not know, naming each by its path.
class Reader {
public:
    Reader(const QString& file, const RegisterTree& tree) : file_(file), tree_(tree) {}

    AppError Refuse(const QString& path, const QString& why) const {
        return AppError(QStringLiteral("%1: \"%2\": %3").arg(file_, path, why));
    }
    void OnlyKeys(const QJsonObject& o, const QString& path, const QStringList& known) const {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!known.contains(it.key()))
                throw Refuse(Join(path, it.key()),
                             QStringLiteral("nieznany klucz (%1)").arg(known.join(", ")));
    }
    static QString Join(const QString& path, const QString& key) {
        return path.isEmpty() ? key : path + '.' + key;
    }
    QJsonValue Needed(const QJsonObject& o, const QString& path, const QString& key) const {
        if (!o.contains(key)) throw Refuse(Join(path, key), QStringLiteral("brak klucza"));
        return o.value(key);
    }
    QString Text(const QJsonObject& o, const QString& path, const QString& key) const {
        const QJsonValue v = Needed(o, path, key);
        if (!v.isString() || v.toString().trimmed().isEmpty())
            throw Refuse(Join(path, key), QStringLiteral("potrzebny niepusty tekst"));
        return v.toString();
    }
    double Number(const QJsonValue& v, const QString& path) const {
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            throw Refuse(path, QStringLiteral("potrzebna liczba"));
        return v.toDouble();
    }
    double Number(const QJsonObject& o, const QString& path, const QString& key) const {
        return Number(Needed(o, path, key), Join(path, key));
    }
    double Positive(const QJsonObject& o, const QString& path, const QString& key) const {
        const double v = Number(o, path, key);
        if (!(v > 0)) throw Refuse(Join(path, key), QStringLiteral("potrzebna liczba dodatnia"));
        return v;
    }
    int Count(const QJsonObject& o, const QString& path, const QString& key, int low,
              int high) const {
        const double v = Number(o, path, key);
        if (v != std::floor(v) || v < low || v > high)
            throw Refuse(Join(path, key),
                         QStringLiteral("potrzebna liczba całkowita %1-%2").arg(low).arg(high));
        return int(v);
    }
    QJsonObject Object(const QJsonValue& v, const QString& path) const {
        if (!v.isObject()) throw Refuse(path, QStringLiteral("potrzebny obiekt"));
        return v.toObject();
    }
    QJsonArray List(const QJsonObject& o, const QString& path, const QString& key) const {
        const QJsonValue v = Needed(o, path, key);
        if (!v.isArray() || v.toArray().isEmpty())
            throw Refuse(Join(path, key), QStringLiteral("potrzebna niepusta lista"));
        return v.toArray();
    }
    // A register of the tree that the procedure reads, or writes.
    QString Register(const QJsonObject& o, const QString& path, const QString& key,
                     bool written) const {
        const QString name = Text(o, path, key);
        const TreeNode* node = tree_.FindNodeByName(name);
        const int access = TransactionEngine::NodeAccess(node);
        if (!node || access == acNone)
            throw Refuse(Join(path, key),
                         QStringLiteral("nie ma rejestru \"%1\" w pliku urządzenia").arg(name));
        if (written && access != acRW && access != acRP)
            throw Refuse(Join(path, key),
                         QStringLiteral("rejestr \"%1\" nie jest do zapisu").arg(name));
        return name;
    }

    ToleranceRule Tolerance(const QJsonObject& o, const QString& path) const {
        static const QStringList kinds{"absolute", "percentOfSpan", "percentOfReading"};
        OnlyKeys(o, path, kinds);
        if (o.size() != 1)
            throw Refuse(path,
                         QStringLiteral("potrzebny dokładnie jeden z: %1").arg(kinds.join(", ")));
        const QString key = o.begin().key();
        return {ToleranceRule::Kind(kinds.indexOf(key)), Positive(o, path, key)};
    }

    Adjustment Adjust(const QJsonObject& o, const QString& path) const {
        const QString kind = Text(o, path, QStringLiteral("kind"));
        Adjustment a;
        if (kind == QLatin1String("storeMean")) {
            OnlyKeys(o, path, {"kind", "sample", "register"});
            a.kind = Adjustment::Kind::StoreMean;
            a.sampleRegister = Register(o, path, QStringLiteral("sample"), false);
        } else if (kind == QLatin1String("writeReference")) {
            OnlyKeys(o, path, {"kind", "register"});
            a.kind = Adjustment::Kind::WriteReference;
        } else {
            throw Refuse(Join(path, QStringLiteral("kind")),
                         QStringLiteral("\"%1\" nieznane (storeMean, writeReference)").arg(kind));
        }
        a.targetRegister = Register(o, path, QStringLiteral("register"), true);
        return a;
    }

    ProcedurePoint Point(const QJsonObject& o, const QString& path) const {
        OnlyKeys(o, path, {"id", "nominal", "adjust"});
        ProcedurePoint p{
            Text(o, path, QStringLiteral("id")), Number(o, path, QStringLiteral("nominal")), {}};
        if (o.contains(QStringLiteral("adjust")))
            p.adjust = Adjust(Object(o.value(QStringLiteral("adjust")), Join(path, "adjust")),
                              Join(path, QStringLiteral("adjust")));
        return p;
    }

    ProcedureRange Range(const QJsonObject& o, const QString& path) const {
        OnlyKeys(o, path,
                 {"range", "unit", "span", "result", "resolution", "samples", "spacingMs",
                  "stability", "tolerance", "decisionRule", "points"});
        ProcedureRange r;
        r.name = Text(o, path, QStringLiteral("range"));
        r.unit = Text(o, path, QStringLiteral("unit"));
        const QJsonValue span = Needed(o, path, QStringLiteral("span"));
        const QString spanPath = Join(path, QStringLiteral("span"));
        if (!span.isArray() || span.toArray().size() != 2)
            throw Refuse(spanPath, QStringLiteral("potrzebne dwie liczby [od, do]"));
        r.spanLow = Number(span.toArray()[0], spanPath);
        r.spanHigh = Number(span.toArray()[1], spanPath);
        if (!(r.spanHigh > r.spanLow))
            throw Refuse(spanPath, QStringLiteral("koniec zakresu musi być większy od początku"));
        r.resultRegister = Register(o, path, QStringLiteral("result"), false);
        r.resolution = Positive(o, path, QStringLiteral("resolution"));
        r.samples = Count(o, path, QStringLiteral("samples"), 1, 1000);
        if (o.contains(QStringLiteral("spacingMs")))
            r.spacingMs = Count(o, path, QStringLiteral("spacingMs"), 0, 600000);
        if (o.contains(QStringLiteral("stability"))) {
            const QString at = Join(path, QStringLiteral("stability"));
            const QJsonObject s = Object(o.value(QStringLiteral("stability")), at);
            OnlyKeys(s, at, {"band", "seconds"});
            r.stabilityBand = Positive(s, at, QStringLiteral("band"));
            r.stabilitySeconds = Count(s, at, QStringLiteral("seconds"), 1, 3600);
        }
        const QString tolerancePath = Join(path, QStringLiteral("tolerance"));
        r.tolerance = Tolerance(Object(Needed(o, path, QStringLiteral("tolerance")), tolerancePath),
                                tolerancePath);
        if (o.contains(QStringLiteral("decisionRule"))) {
            const QString rule = Text(o, path, QStringLiteral("decisionRule"));
            if (rule == QLatin1String("guardBand"))
                r.rule = DecisionRule::GuardBanded;
            else if (rule != QLatin1String("simple"))
                throw Refuse(Join(path, QStringLiteral("decisionRule")),
                             QStringLiteral("\"%1\" nieznana (simple, guardBand)").arg(rule));
        }
        const QJsonArray points = List(o, path, QStringLiteral("points"));
        for (qsizetype i = 0; i < points.size(); ++i) {
            const QString at = QStringLiteral("%1.points[%2]").arg(path).arg(i);
            r.points << Point(Object(points[i], at), at);
            for (qsizetype j = 0; j + 1 < r.points.size(); ++j)
                if (r.points[j].id == r.points.last().id)
                    throw Refuse(at + QStringLiteral(".id"),
                                 QStringLiteral("punkt \"%1\" już jest").arg(r.points.last().id));
        }
        return r;
    }

private:
    QString file_;
    const RegisterTree& tree_;
};

} // namespace

Procedure ReadProcedure(const QByteArray& json, const QString& fileName, const RegisterTree& tree) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject())
        throw AppError(
            QStringLiteral("%1: potrzebny obiekt JSON (%2)").arg(fileName, error.errorString()));
    const Reader read(fileName, tree);
    const QJsonObject root = doc.object();
    read.OnlyKeys(root, {}, {"title", "ranges"});
    Procedure p;
    p.title = read.Text(root, {}, QStringLiteral("title"));
    const QJsonArray ranges = read.List(root, {}, QStringLiteral("ranges"));
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        const QString at = QStringLiteral("ranges[%1]").arg(i);
        p.ranges << read.Range(read.Object(ranges[i], at), at);
    }
    return p;
}

Procedure ReadProcedureFile(const QString& path, const RegisterTree& tree) {
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("%1: nie można otworzyć pliku procedury").arg(name));
    return ReadProcedure(file.read(256 * 1024), name, tree);
}
