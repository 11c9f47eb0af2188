#include "procrun.h"
#include "regmap/error.h"
#include "tools/operator.h"
#include "txn/numbers.h"
#include <QElapsedTimer>
#include <cmath>

Verdict ProcedureResult::overall() const {
    const QList<PointResult>& last = asLeft.isEmpty() ? asFound : asLeft;
    if (last.isEmpty() || !stopReason.isEmpty()) return Verdict::Undetermined;
    bool undetermined = false;
    for (const PointResult& p : last) {
        if (p.verdict == Verdict::Fail) return Verdict::Fail;
        undetermined = undetermined || p.verdict == Verdict::Undetermined;
    }
    return undetermined ? Verdict::Undetermined : Verdict::Pass;
}

ProcedureRun::ProcedureRun(TransactionEngine& engine, RegisterTree& tree,
                           const Procedure& procedure, ProcedureContext context, Hooks hooks)
    : engine_(engine), tree_(tree), procedure_(procedure), context_(std::move(context)),
      hooks_(std::move(hooks)) {
    result_.start = QDateTime::currentDateTime();
}

const ReferenceStandard* ProcedureRun::StandardFor(const QString& pointId) const {
    const QString id = context_.standardAt.value(pointId, context_.standardAt.value(QString()));
    return id.isEmpty() ? nullptr : FindStandard(context_.standards, id);
}

bool ProcedureRun::Stopped() {
    if (hooks_.stopped && hooks_.stopped()) {
        Finish(QStringLiteral("przerwana przez operatora"));
        return true;
    }
    return false;
}

void ProcedureRun::Finish(const QString& stopReason) {
    if (result_.stopReason.isEmpty()) result_.stopReason = stopReason;
    result_.end = QDateTime::currentDateTime();
}

// A numeric register's value as the device just said it: a real one in full precision.
std::optional<double> ProcedureRun::ReadValue(TreeNode* node) {
    if (!engine_.LinkOpen()) return std::nullopt;
    engine_.ReadRegister(node);
    if (!engine_.LastReplyOk()) return std::nullopt;
    if (IsRealType(TypeCodeOf(node->record.Type))) return double(engine_.DecodedReal());
    try {
        return double(ParseInteger(node->record.Value));
    } catch (const AppError&) {
        return std::nullopt;
    }
}

// Reads the result until its readings over the rule's seconds stay within the band, or
// three times that has gone by (the point is then marked unstable and taken as it is).
std::optional<bool> ProcedureRun::WaitStable(const ProcedureRange& range, TreeNode* result) {
    if (range.stabilityBand <= 0) return true;
    const qint64 window = qint64(range.stabilitySeconds) * 1000;
    QList<std::pair<qint64, double>> seen;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3 * window + 1000) {
        if (Stopped()) return std::nullopt;
        const std::optional<double> v = ReadValue(result);
        if (v) seen.append({clock.elapsed(), *v});
        while (!seen.isEmpty() && seen.first().first < clock.elapsed() - window)
            seen.removeFirst();
        if (!seen.isEmpty() && clock.elapsed() >= window) {
            double low = seen.first().second, high = low;
            for (const auto& [t, x] : seen)
                low = std::min(low, x), high = std::max(high, x);
            if (high - low <= range.stabilityBand) return true;
        }
        if (hooks_.pause) hooks_.pause(std::max(range.spacingMs, 100));
    }
    return false; // unstable: said on the point, which is taken as it is
}

std::optional<PointResult> ProcedureRun::MeasurePoint(const ProcedureRange& range,
                                                      const ProcedurePoint& point) {
    const ReferenceStandard* standard = StandardFor(point.id);
    const std::optional<double> applied =
        hooks_.applied ? hooks_.applied(range, point, standard) : point.nominal;
    if (!applied) {
        Finish(QStringLiteral("przerwana przez operatora w punkcie %1").arg(point.id));
        return std::nullopt;
    }
    PointResult p;
    p.range = range.name;
    p.id = point.id;
    p.unit = range.unit;
    p.nominal = point.nominal;
    p.reference = *applied;
    if (standard) p.standardId = standard->id;
    TreeNode* result = tree_.FindNodeByName(range.resultRegister);
    TreeNode* sample = point.adjust.kind == Adjustment::Kind::StoreMean
                           ? tree_.FindNodeByName(point.adjust.sampleRegister)
                           : nullptr;
    const std::optional<bool> stable = WaitStable(range, result);
    if (!stable) return std::nullopt;
    p.stable = *stable;
    if (range.stabilityBand > 0 && hooks_.progress)
        hooks_.progress(
            p.stable ? QStringLiteral("%1: odczyt stabilny").arg(point.id)
                     : QStringLiteral("%1: odczyt niestabilny, próbki mimo to").arg(point.id));
    for (int i = 0; i < range.samples; ++i) {
        if (Stopped()) return std::nullopt;
        if (i > 0 && hooks_.pause) hooks_.pause(range.spacingMs);
        const std::optional<double> v = ReadValue(result);
        std::optional<double> raw;
        if (v && sample) raw = ReadValue(sample);
        if (!v || (sample && !raw)) {
            Finish(QStringLiteral("brak odpowiedzi w punkcie %1 (próbka %2)")
                       .arg(point.id)
                       .arg(i + 1));
            return std::nullopt;
        }
        p.readings << *v;
        p.times << QDateTime::currentDateTime();
        if (sample) p.rawSamples << sample->record.Value;
    }
    const double span = range.spanHigh - range.spanLow;
    p.budget = BudgetOf(p.readings, standard ? standard->U : 0, standard ? standard->k : 2,
                        range.resolution);
    p.mean = p.budget.mean;
    p.error = p.mean - p.reference;
    p.errorPercentOfSpan = 100 * p.error / span;
    p.tolerance = ToleranceAt(range.tolerance, p.reference, span);
    p.verdict = Decide(range.rule, p.error, p.tolerance, p.budget.expanded);
    return p;
}

bool ProcedureRun::Measure(QList<PointResult>& into) {
    into.clear();
    for (const ProcedureRange& range : procedure_.ranges)
        for (const ProcedurePoint& point : range.points) {
            const std::optional<PointResult> p = MeasurePoint(range, point);
            if (!p) return false;
            into << *p;
            if (hooks_.progress)
                hooks_.progress(QStringLiteral("%1: %2 %3, %4")
                                    .arg(point.id, AtResolution(p->mean, range.resolution),
                                         range.unit, VerdictText(p->verdict)));
        }
    return true;
}

// The writes the as-found results ask for: a stored raw mean, or the reference value.
QList<AdjustmentStep> ProcedureRun::PlanAdjustment() const {
    QList<AdjustmentStep> steps;
    qsizetype at = 0;
    for (const ProcedureRange& range : procedure_.ranges)
        for (const ProcedurePoint& point : range.points) {
            const PointResult& p = result_.asFound.value(at++);
            if (point.adjust.kind == Adjustment::Kind::None) continue;
            const TreeNode* node = tree_.FindNodeByName(point.adjust.targetRegister);
            AdjustmentStep s;
            s.point = point.id;
            s.registerName = point.adjust.targetRegister;
            s.address = node ? node->record.Address : QString();
            if (point.adjust.kind == Adjustment::Kind::StoreMean)
                s.wanted = QString::number(ComputeCalibration(p.rawSamples).mean);
            else
                s.wanted = node && IsRealType(TypeCodeOf(node->record.Type))
                               ? AtResolution(p.reference, range.resolution)
                               : QString::number(std::llround(p.reference));
            steps << s;
        }
    return steps;
}

namespace {

// The same value, whatever its text: "1008" and "1008", or 100,5 and 100,50.
bool SameValue(const QString& a, const QString& b) {
    if (a == b) return true;
    try {
        return std::fabs(double(ParseReal(a)) - double(ParseReal(b))) <=
               1e-6 * std::max(1.0, std::fabs(double(ParseReal(a))));
    } catch (const AppError&) {
        return false;
    }
}

} // namespace

bool ProcedureRun::WriteAndReadBack(AdjustmentStep& step, const QString& value) {
    TreeNode* node = tree_.FindNodeByName(step.registerName);
    node->record.Value = value;
    engine_.WriteRegister(node);
    const bool acknowledged = engine_.LastReplyOk();
    step.after.clear();
    if (engine_.LinkOpen()) {
        engine_.ReadRegister(node);
        if (engine_.LastReplyOk()) step.after = node->record.Value;
    }
    if (value == step.wanted) step.acknowledged = acknowledged;
    return acknowledged && !step.after.isEmpty() && SameValue(step.after, value);
}

bool ProcedureRun::Adjust() {
    result_.adjustAsked = true;
    QList<AdjustmentStep> steps = PlanAdjustment();
    if (steps.isEmpty()) return true;
    // Every old value first: nothing is written unless each can be put back.
    for (AdjustmentStep& s : steps) {
        if (Stopped()) return false;
        TreeNode* node = tree_.FindNodeByName(s.registerName);
        if (engine_.LinkOpen()) engine_.ReadRegister(node);
        if (!engine_.LinkOpen() || !engine_.LastReplyOk()) {
            result_.adjustments = steps;
            Finish(QStringLiteral("regulacja: brak odczytu %1 przed zapisem; nic nie zapisano")
                       .arg(s.registerName));
            return false;
        }
        s.before = node->record.Value;
    }
    result_.adjustments = steps;
    if (!hooks_.confirmAdjust || !hooks_.confirmAdjust(steps)) return true; // left as found
    result_.adjustConfirmed = true;
    bool allHold = true;
    for (AdjustmentStep& s : steps) {
        try {
            s.holds = WriteAndReadBack(s, s.wanted);
        } catch (const AppError&) { // a value the register cannot take
            s.holds = false;
        }
        allHold = allHold && s.holds;
    }
    result_.adjustments = steps;
    if (allHold) return true;
    if (hooks_.confirmRestore && hooks_.confirmRestore(steps)) {
        for (AdjustmentStep& s : steps) {
            // A register that read back its old value never changed: nothing to write.
            if (!s.after.isEmpty() && SameValue(s.after, s.before)) {
                s.restored = true;
                continue;
            }
            AdjustmentStep back = s;
            try {
                s.restored = WriteAndReadBack(back, s.before);
            } catch (const AppError&) { // as for the adjustment's own write
                s.restored = false;
            }
        }
        result_.restoreDone = true;
        result_.adjustments = steps;
    }
    Finish(QStringLiteral("regulacja nieudana: urządzenie nie przyjęło wartości"));
    return false;
}
