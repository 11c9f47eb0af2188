#pragma once
// A simulated transducer for calibration: its raw register R0 follows the applied input,
// R0 = offset + gain * input (with uniform noise of ±noise counts), and its result register
// Temperatura follows its own calibration registers: the line through (N100, 100) and
// (N400, 400), in the input's unit. A miscalibrated one is a gain or offset the stored N100
// and N400 do not match; storing the raw means at 100 and 400 calibrates it.
#include "registers.h"
#include <QString>
#include <cstdint>

struct TransducerSettings {
    double gain = 10, offset = 0, input = 100;
    int noise = 0;
};

class Transducer {
public:
    // Throws AppError when the device file lacks one of its registers.
    Transducer(RegisterTables& tables, const TransducerSettings& settings);
    // The raw and result registers as the input and the calibration make them now.
    void Update(std::uint32_t (*random)());
    double input() const { return settings_.input; }
    // A control line: "input X" or just "X" sets the applied input. Empty when taken, else
    // why not.
    QString TakeControlLine(const QString& line);

private:
    struct Place {
        int address = 0;
        bool input = false;
    };
    Place PlaceOf(const char* name) const;
    std::uint16_t* Word(const Place& p) const;

    RegisterTables& tables_;
    TransducerSettings settings_;
    Place raw_, result_, low_, high_;
    RegisterNode resultRecord_;
};

// A number as typed: a decimal point or a decimal comma. None when it is not one.
bool ParseDecimal(const QString& text, double& value);
