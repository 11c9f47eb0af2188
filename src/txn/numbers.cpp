#include "numbers.h"
#include "regmap/error.h"
#include <charconv>
#include <cmath>
#include <string>

QString FormatFixed(double value, int decimals) {
    if (std::isnan(value)) return QStringLiteral("NAN");
    if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    // 1100 fractional digits print any double exactly, so the rounding below sees the
    // true value. std::to_chars, unlike printf, writes '.' whatever the process locale.
    static thread_local std::string buffer(1500, '\0');
    const auto printed = std::to_chars(buffer.data(), buffer.data() + buffer.size(),
                                       std::fabs(value), std::chars_format::fixed, 1100);
    std::string digits(buffer.data(), printed.ptr);
    const std::size_t point = digits.find('.');
    const bool roundUp = digits[point + 1 + decimals] >= '5';
    std::string kept = digits.substr(0, point) + digits.substr(point + 1, decimals);
    if (roundUp) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9')
            kept[--i] = '0';
        if (i == 0)
            kept.insert(kept.begin(), '1');
        else
            ++kept[i - 1];
    }
    const std::size_t integerDigits = kept.size() - decimals;
    QString text = QString::fromLatin1(kept.data(), integerDigits);
    if (decimals > 0) text += ',' + QString::fromLatin1(kept.data() + integerDigits, decimals);
    const bool zero = kept.find_first_not_of('0') == std::string::npos;
    return (value < 0 && !zero) ? '-' + text : text;
}

namespace {

[[noreturn]] void NotAReal(const QString& text) {
    throw AppError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

// Accepts the grammar above and gives its ASCII form with '.' for std::from_chars.
bool NormaliseReal(const QString& text, std::string& out) {
    qsizetype i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    while (n > i && text[n - 1] == ' ')
        --n;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') out += '-';
        ++i;
    }
    int mantissaDigits = 0;
    bool comma = false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c >= '0' && c <= '9') {
            out += static_cast<char>(c);
            ++mantissaDigits;
        } else if (c == ',' && !comma) {
            comma = true;
            out += '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        out += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            out += static_cast<char>(text[i++].unicode());
        int exponentDigits = 0;
        for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i, ++exponentDigits)
            out += static_cast<char>(text[i].unicode());
        if (exponentDigits == 0) return false;
    }
    return i == n;
}

} // namespace

float ParseReal(const QString& text) {
    std::string ascii;
    if (!NormaliseReal(text, ascii)) NotAReal(text);
    double value = 0;
    const auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (error != std::errc() && error != std::errc::result_out_of_range) NotAReal(text);
    // Out of range either way: a negative exponent underflows to zero, else it overflows.
    if (error == std::errc::result_out_of_range) {
        if (ascii.find("e-") == std::string::npos) NotAReal(text);
        value = 0;
    }
    const auto single = static_cast<float>(value);
    if (std::isinf(single)) NotAReal(text);
    return single;
}
