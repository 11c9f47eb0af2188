// ParseInteger and the real-number parser over any text, and formatting what they accept.
#include "regmap/error.h"
#include "regmap/record.h"
#include "txn/numbers.h"
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        ParseInteger(text);
    } catch (const AppError&) {
    }
    try {
        const float value = ParseReal(text);
        const QString shown = FormatFixed(value, 10);
        // Ten decimals hold every single from 0,01 up exactly enough to read it back.
        if (std::fabs(value) >= 0.01f && ParseReal(shown) != value) __builtin_trap();
    } catch (const AppError&) {
    }
    return 0;
}
