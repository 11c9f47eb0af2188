#include "uncertainty.h"
#include "txn/numbers.h"
#include <cmath>

UncertaintyBudget BudgetOf(const QList<double>& readings, double referenceU, double referenceK,
                           double resolution) {
    UncertaintyBudget b;
    b.samples = int(readings.size());
    if (b.samples > 0) {
        double sum = 0;
        for (double r : readings)
            sum += r;
        b.mean = sum / b.samples;
    }
    if (b.samples > 1) {
        double squares = 0;
        for (double r : readings)
            squares += (r - b.mean) * (r - b.mean);
        b.deviation = std::sqrt(squares / (b.samples - 1));
        b.typeA = b.deviation / std::sqrt(double(b.samples));
    }
    b.reference = std::fabs(referenceU) / (referenceK > 0 ? referenceK : 2.0);
    b.resolution = std::fabs(resolution) / std::sqrt(12.0);
    b.combined =
        std::sqrt(b.typeA * b.typeA + b.reference * b.reference + b.resolution * b.resolution);
    b.expanded = b.k * b.combined;
    return b;
}

Verdict Decide(DecisionRule rule, double error, double tolerance, double expanded) {
    const double e = std::fabs(error), t = std::fabs(tolerance), u = std::fabs(expanded);
    if (rule == DecisionRule::Simple) return e <= t ? Verdict::Pass : Verdict::Fail;
    if (e + u <= t) return Verdict::Pass;
    if (e - u > t) return Verdict::Fail;
    return Verdict::Undetermined;
}

QString VerdictText(Verdict verdict) {
    switch (verdict) {
    case Verdict::Pass:
        return QStringLiteral("zgodny");
    case Verdict::Fail:
        return QStringLiteral("niezgodny");
    case Verdict::Undetermined:
        break;
    }
    return QStringLiteral("nieokreślony");
}

QString DecisionRuleText(DecisionRule rule) {
    if (rule == DecisionRule::Simple)
        return QStringLiteral("akceptacja prosta: zgodny, gdy |błąd| ≤ tolerancja");
    return QStringLiteral("pasmo ochronne U: zgodny, gdy |błąd| + U ≤ tolerancja; niezgodny, "
                          "gdy |błąd| − U > tolerancja; inaczej nieokreślony");
}

namespace {

// Decimals that show a step: 2 for 0,01, 0 for 1 or more; at most 9.
int DecimalsOf(double step) {
    int decimals = 0;
    for (double s = std::fabs(step); decimals < 9 && s > 0 && s < 1 - 1e-9; s *= 10)
        ++decimals;
    return decimals;
}

} // namespace

QString AtResolution(double value, double resolution) {
    if (!(resolution > 0)) return FormatFixed(value, 6);
    const double steps = std::round(value / resolution);
    return FormatFixed(steps * resolution, DecimalsOf(resolution));
}

QString TwoSignificantDigits(double uncertainty) {
    const double u = std::fabs(uncertainty);
    if (u == 0 || !std::isfinite(u)) return FormatFixed(u, 0);
    int exponent = int(std::floor(std::log10(u)));
    // A hair above a step is the step itself: 0,0130000000001 is 0,013, not 0,014.
    auto roundedUp = [u](int e) {
        const double scale = std::pow(10.0, 1 - e);
        return std::ceil(u * scale - 1e-9) / scale;
    };
    double up = roundedUp(exponent);
    if (up >= std::pow(10.0, exponent + 1) * (1 - 1e-12)) up = roundedUp(++exponent); // 0,0995
    return FormatFixed(up, std::max(0, 1 - exponent));
}
