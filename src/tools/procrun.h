#pragma once
// A calibration procedure run over the engine: each point as found, then (when asked) the
// adjustment with every old value read first, written only after one confirmation and read
// back, then each point as left. Every request goes through the engine as any other; the
// frontend answers the questions through the hooks.
#include "tools/procedure.h"
#include "tools/standards.h"
#include "txn/engine.h"
#include <QDateTime>
#include <functional>
#include <optional>

struct PointResult {
    QString range, id, unit;
    double nominal = 0, reference = 0; // the standard's actual value applied
    QString standardId;                // empty: none named
    QList<double> readings;            // the result register, in the unit
    QList<QDateTime> times;
    QStringList rawSamples; // the adjustment's sampled register, as read
    bool stable = true;     // the stability rule was met before the samples
    double mean = 0, error = 0, errorPercentOfSpan = 0, tolerance = 0;
    UncertaintyBudget budget;
    Verdict verdict = Verdict::Undetermined;
};

// One register the adjustment writes: its value before, the value written, what it read
// back after.
struct AdjustmentStep {
    QString point, registerName, address;
    QString before, wanted, after;
    bool acknowledged = false; // the write got a valid reply
    bool holds = false;        // and the read-back is the value written
    bool restored = false;     // written back to its old value after a failure
};

struct ProcedureContext {
    QString operatorName, checker, customer, place;
    std::optional<double> temperature, humidity;
    QList<ReferenceStandard> standards; // every one named
    // The standard applied at a point id; "" for every point that names none of its own.
    QHash<QString, QString> standardAt;
};

struct ProcedureResult {
    QDateTime start, end;
    QList<PointResult> asFound, asLeft;
    QList<AdjustmentStep> adjustments;
    bool adjustAsked = false, adjustConfirmed = false, restoreDone = false;
    QString stopReason; // empty: it ran to its end
    Verdict overall() const;
};

class ProcedureRun {
public:
    struct Hooks {
        // Asks the operator to apply the point; the standard's actual value, none to stop.
        std::function<std::optional<double>(const ProcedureRange&, const ProcedurePoint&,
                                            const ReferenceStandard*)>
            applied;
        // Every write, old -> new, asked once; true writes them all.
        std::function<bool(const QList<AdjustmentStep>&)> confirmAdjust;
        // Some write failed or did not hold: true writes the old values back.
        std::function<bool(const QList<AdjustmentStep>&)> confirmRestore;
        std::function<bool()> stopped;
        std::function<void(int ms)> pause;
        std::function<void(const QString&)> progress;
    };

    ProcedureRun(TransactionEngine& engine, RegisterTree& tree, const Procedure& procedure,
                 ProcedureContext context, Hooks hooks);

    // Each step false when the run stopped in it (result().stopReason says why).
    bool AsFound() { return Measure(result_.asFound); }
    bool Adjust();
    bool AsLeft() { return Measure(result_.asLeft); }
    // Stops with the reason, keeping what was done; the end time is set.
    void Finish(const QString& stopReason = {});
    const ProcedureResult& result() const { return result_; }
    const ProcedureContext& context() const { return context_; }
    const ReferenceStandard* StandardFor(const QString& pointId) const;

private:
    bool Measure(QList<PointResult>& into);
    std::optional<PointResult> MeasurePoint(const ProcedureRange& range,
                                            const ProcedurePoint& point);
    std::optional<double> ReadValue(TreeNode* node);
    // True when stable, false when it never became so; none when the run was stopped.
    std::optional<bool> WaitStable(const ProcedureRange& range, TreeNode* result);
    QList<AdjustmentStep> PlanAdjustment() const;
    bool WriteAndReadBack(AdjustmentStep& step, const QString& value);
    bool Stopped();

    TransactionEngine& engine_;
    RegisterTree& tree_;
    const Procedure& procedure_;
    ProcedureContext context_;
    Hooks hooks_;
    ProcedureResult result_;
};
