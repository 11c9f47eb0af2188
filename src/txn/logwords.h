#pragma once
// The log's fixed words. Operators, their scripts and the tests read a log by them, so they
// are the log's vocabulary, kept here in one place, and not window texts to be reworded.
#include <QStringView>

namespace LogWords {
// A walk or a calibration run that ended before its end.
inline constexpr QStringView kStopped = u"Przerwano";
inline constexpr QStringView kStoppedByError = u"Przerwano: błąd";
inline constexpr QStringView kStoppedNoConnection = u"Przerwano: brak połączenia";
inline constexpr QStringView kStoppedFailuresInRow = u"Przerwano: %1 błędów z rzędu";
// A calibration run: "kalibracja 100R ... ", its end without a result, and the marks its
// mean and error are written over.
inline constexpr QStringView kCalibration = u"kalibracja ";
inline constexpr QStringView kCalibrationRunning = u" ... ";
inline constexpr QStringView kCalibrationStopped = u"kalibracja przerwana";
inline constexpr QStringView kMeanMark = u"========";
inline constexpr QStringView kErrorMark = u"err: ";
// The name a communications reset is logged under.
inline constexpr QStringView kReset = u"Reset";
} // namespace LogWords
