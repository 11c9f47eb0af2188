#pragma once
// The register record of one tree node and the vocabulary that interprets its texts.
#include <QString>
#include <cstdint>

struct RegisterNode {
    QString Name, Note, Address, Type, Count, Access, Value;
};

enum TypeCode : int {
    tcNone = 0,
    tcWord = 4,
    tcInt = 5,
    tcReal = 6,
    tcText = 7,
    tcHex = 10,
    tcPrec = 11,
    tcFloat = 12
};

enum AccessCode : int { acNone = 0, acRO = 1, acRW = 16, acRP = 17 };

TypeCode TypeCodeOf(const QString& type);
AccessCode AccessCodeOf(const QString& access);

// Decimal, or hexadecimal after "$", "x", "X", "0x" or "0X"; an optional sign and leading
// blanks. Throws AppError "'%s' is not a valid integer value".
std::int32_t ParseInteger(const QString& text);
