#pragma once
// Register values between the tree's texts and the wire's registers.
#include "regmap/tree.h"
#include "state.h"
#include <array>
#include <cstdint>

// Decodes the reply in state.reply by the request in state.frame. False for an exception
// reply and for a read reply too short for its byte count or its type; then nothing is
// stored and DecodedText keeps its text.
bool DecodeReply(TxnState& state, RegisterTree& tree);
void StoreValue(TxnState& state, RegisterTree& tree);
void MarkOptions(TxnState& state, std::int32_t value);
// Sets the marks of a register's options from its value: an option under a byte group by its
// byte (the high byte for option values above 255), a check box when all its bits are set,
// any other option when its value equals the register's. Stops at the first node below the
// register that is neither an option ("BIT") nor a byte group; throws AppError for an option
// whose value is not an integer (the options before it keep their new marks).
void MarkOptionsOf(TreeNode* reg, std::int32_t value);
QString TextFromBytes(const std::uint8_t* bytes, std::uint8_t count);
// An integer as the register's type shows it: WORD unsigned, INT signed, HEX "$" and digits,
// over 16 bits for one register and 32 for two; other types in decimal.
QString IntegerValueText(std::int32_t value, const RegisterNode& reg);
// "$" and upper-case hexadecimal digits, at least two.
QString HexValueText(std::uint32_t value);
// The integer a write of that many registers of the node carries: one register takes
// -32768 to 65535 (-1 is $FFFF), more take the signed 32-bit range. Throws AppError naming the
// range for a number outside it, and the conversion error for a text that is not an integer.
std::int32_t RegisterInteger(const RegisterNode& node, int registers);
// The registers a write of the node carries, from its Count; throws AppError for fewer than 0
// or more than 13, which the frame cannot hold.
int WriteRegisterCount(const RegisterNode& node);

// The data area of a write of several registers, as the frame carries it, and the Value as
// it goes out.
struct WriteData {
    std::array<std::uint8_t, 2 * kMaxWriteRegisters> bytes{};
    QString sentText;
};
// Encodes the node's Value by its Type. Numbers go out as 32 bits: WORD, INT and HEX as an
// integer, REAL and PREC as a float with the words' bytes swapped, FLOAT as a big-endian float.
// A TEXT value goes out in Windows-1250 ('?' for characters the code page lacks), cut to the
// registers' bytes and filled with blanks. Throws AppError for a Value that does not convert.
WriteData EncodeWriteData(const RegisterNode& node);
