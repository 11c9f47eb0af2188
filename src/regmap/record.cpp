#include "record.h"
#include "error.h"
#include <iterator>

QString BoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + '.';
    return message;
}

namespace {

// Only the ASCII letters change; Polish letters stay as they are.
QString AsciiUpper(QStringView text) {
    QString upper = text.toString();
    for (QChar& c : upper)
        if (c >= 'a' && c <= 'z') c = QChar(c.unicode() - 'a' + 'A');
    return upper;
}

int HexDigit(QChar c) {
    if (c >= '0' && c <= '9') return c.unicode() - '0';
    if (c >= 'A' && c <= 'F') return c.unicode() - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c.unicode() - 'a' + 10;
    return -1;
}

int DecimalDigit(QChar c) {
    return c >= '0' && c <= '9' ? c.unicode() - '0' : -1;
}

[[noreturn]] void NotAnInteger(QStringView text) {
    throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

} // namespace

namespace {

using Kind = ValueTypeInfo::Kind;
using Order = ValueTypeInfo::Order;
constexpr ValueTypeInfo kValueTypes[] = {
    {"WORD", tcWord, Kind::Integer, Order::SwappedPairs, 2, 0},
    {"INT", tcInt, Kind::Integer, Order::SwappedPairs, 2, 0},
    {"REAL", tcReal, Kind::Real, Order::SwappedPairs, 4, 2},
    {"TEXT", tcText, Kind::Text, Order::AsWritten, 0, 0},
    {"HEX", tcHex, Kind::Integer, Order::SwappedPairs, 2, 0},
    {"PREC", tcPrec, Kind::Real, Order::SwappedPairs, 4, 10},
    {"FLOAT", tcFloat, Kind::Real, Order::Reversed, 4, 2},
};

} // namespace

const ValueTypeInfo* ValueTypesBegin() {
    return std::begin(kValueTypes);
}

const ValueTypeInfo* ValueTypesEnd() {
    return std::end(kValueTypes);
}

const ValueTypeInfo* TypeInfo(int code) {
    for (const ValueTypeInfo& row : kValueTypes)
        if (row.code == code) return &row;
    return nullptr;
}

bool IsNumericType(int code) {
    const ValueTypeInfo* row = TypeInfo(code);
    return row && row->kind != Kind::Text;
}

bool IsIntegerType(int code) {
    const ValueTypeInfo* row = TypeInfo(code);
    return row && row->kind == Kind::Integer;
}

bool IsRealType(int code) {
    const ValueTypeInfo* row = TypeInfo(code);
    return row && row->kind == Kind::Real;
}

TypeCode TypeCodeOf(QStringView type) {
    const QString upper = AsciiUpper(type);
    for (const ValueTypeInfo& row : kValueTypes)
        if (upper == QLatin1String(row.keyword)) return row.code;
    return tcNone;
}

AccessCode AccessCodeOf(QStringView access) {
    const QString upper = AsciiUpper(access);
    if (upper == QLatin1String("RO")) return acRO;
    if (upper == QLatin1String("RW")) return acRW;
    if (upper == QLatin1String("RP")) return acRP;
    return acNone;
}

bool IsExactlyRW(const RegisterNode& record) {
    return record.Access == QLatin1String("RW");
}

bool IsExactlyRP(const RegisterNode& record) {
    return record.Access == QLatin1String("RP");
}

bool IsExactlyHex(const RegisterNode& record) {
    return record.Type == QLatin1String("HEX");
}

bool IsExactlyBit(const RegisterNode& record) {
    return record.Type == QLatin1String("BIT");
}

std::int32_t ParseInteger(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) NotAnInteger(text);

    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i]) : DecimalDigit(text[i]);
        if (digit < 0) NotAnInteger(text);
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0xFFFFFFFFull) NotAnInteger(text);
    }
    if (hex) {
        const auto bits = static_cast<std::uint32_t>(value);
        return static_cast<std::int32_t>(negative ? 0u - bits : bits);
    }
    if (value > (negative ? 2147483648ull : 2147483647ull)) NotAnInteger(text);
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                    : static_cast<std::int32_t>(value);
}
