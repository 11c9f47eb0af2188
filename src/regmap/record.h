#pragma once
// The register record of one tree node and the vocabulary that interprets its texts.
#include <QString>
#include <QStringView>
#include <cstdint>

// The seven texts of one register, group of registers or option, in the order the device
// file keeps them. Nothing is parsed when a file loads; each text is interpreted where it is
// used, through the keyword tables and the integer syntax below.
struct RegisterNode {
    QString Name;
    QString Note;
    QString Address; // decimal, or hexadecimal after "$"
    QString Type;    // a TypeCode keyword, or "BIT" for an option
    QString Count;   // registers
    QString Access;  // an AccessCode keyword; empty for groups and options
    QString Value;

    bool operator==(const RegisterNode&) const = default;
};

// The seven texts in file order, for code that treats them alike: record.*kRecordTexts[i].
inline constexpr QString RegisterNode::*kRecordTexts[] = {
    &RegisterNode::Name,  &RegisterNode::Note,   &RegisterNode::Address, &RegisterNode::Type,
    &RegisterNode::Count, &RegisterNode::Access, &RegisterNode::Value};

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

// What the program knows of each value type, one row a type: the codec, the trend, the
// command line's records and the fuzz targets ask this table, so a new type is one row here
// and its rows in the tests.
struct ValueTypeInfo {
    enum class Kind : std::uint8_t { Integer, Real, Text };
    // How a value's bytes travel: each register pair's two registers swapped (integers,
    // REAL, PREC), the four bytes reversed (FLOAT), or as they stand (TEXT).
    enum class Order : std::uint8_t { SwappedPairs, Reversed, AsWritten };
    const char* keyword;
    TypeCode code;
    Kind kind;
    Order order;
    int minimumBytes; // data bytes a read reply must hold for a value
    int decimals;     // a real's decimals as the window shows it
};

// Every type, in the order of their codes.
const ValueTypeInfo* ValueTypesBegin();
const ValueTypeInfo* ValueTypesEnd();
// The row of a code; nullptr for tcNone or a code that is no type.
const ValueTypeInfo* TypeInfo(int code);
// Integer and real types: drawn in the trend, numbers in CSV and JSON.
bool IsNumericType(int code);
bool IsIntegerType(int code);
bool IsRealType(int code);

// Either case: "word" is WORD. Anything else is tcNone / acNone.
TypeCode TypeCodeOf(QStringView type);
AccessCode AccessCodeOf(QStringView access);

// Exact comparisons with the upper-case keyword, where the texts are taken as the device file
// spells them. Device files are written for that: a lower-case keyword still reads and writes
// through TypeCodeOf and AccessCodeOf, but is drawn and marked as the file's author chose.

// The address drawn navy as writable. Not upper-cased: "rw" is a register the file's author
// wanted written but drawn plain.
bool IsExactlyRW(const RegisterNode& record);
// The row drawn maroon. Not upper-cased, for the same reason as RW.
bool IsExactlyRP(const RegisterNode& record);
// A register whose value sets its options' marks, and whose marks clear while it is unread.
// Not upper-cased: a "hex" register has children that are not options.
bool IsExactlyHex(const RegisterNode& record);
// An option under a HEX register; the first child that is not one ends the options. Not
// upper-cased: children typed otherwise, "bit" included, end the run of options.
bool IsExactlyBit(const RegisterNode& record);

// Decimal, or hexadecimal after "$", "x", "X", "0x" or "0X"; an optional sign and leading
// blanks. Throws AppError "'%s' is not a valid integer value".
std::int32_t ParseInteger(QStringView text);
