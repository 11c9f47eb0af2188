#pragma once
// Number texts with the decimal comma.
#include <QString>

// Fixed decimals, at least one integer digit, halves rounded away from zero on the exact
// value; "NAN", "INF", "-INF" for values that are not finite.
QString FormatFixed(double value, int decimals);
// Optional sign, digits with at most one ',', optional exponent, blanks around. Rounded to
// a single. Throws AppError "'%s' is not a valid floating point value".
float ParseReal(const QString& text);
