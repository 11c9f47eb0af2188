#pragma once
// The measurement uncertainty of one calibration point after the GUM, and the verdict of a
// decision rule on its error. Pure arithmetic: a procedure run and its certificate use it.
#include <QList>
#include <QString>

// The budget's terms, each a standard uncertainty in the unit of measure.
struct UncertaintyBudget {
    int samples = 0;
    double mean = 0;
    double deviation = 0;  // of the samples, with n - 1; 0 for fewer than two
    double typeA = 0;      // s / sqrt(n)
    double reference = 0;  // U_ref / k_ref of the standard
    double resolution = 0; // r / sqrt(12) of the display
    double combined = 0;   // root sum of the squares
    double k = 2;          // coverage factor
    double expanded = 0;   // U = k * u_c
};

// The budget of a point from its readings (in the unit), the standard's expanded uncertainty
// with its coverage factor, and the display's resolution. A k_ref of 0 or less is taken as 2.
UncertaintyBudget BudgetOf(const QList<double>& readings, double referenceU, double referenceK,
                           double resolution);

enum class DecisionRule {
    Simple,      // |error| <= tolerance passes
    GuardBanded, // |error| + U <= tolerance passes, |error| - U > tolerance fails
};
enum class Verdict { Pass, Fail, Undetermined };

Verdict Decide(DecisionRule rule, double error, double tolerance, double expanded);
// "zgodny", "niezgodny", "nieokreślony".
QString VerdictText(Verdict verdict);
// "akceptacja prosta (|błąd| ≤ tolerancja)" or the guard-banded rule in words, for the record.
QString DecisionRuleText(DecisionRule rule);

// A value rounded to the resolution's decimals, with the decimal comma: 100,02 for 0,01.
QString AtResolution(double value, double resolution);
// An expanded uncertainty to two significant digits, rounded up so it is never understated,
// with the decimal comma: 0,0123 gives "0,013".
QString TwoSignificantDigits(double uncertainty);
