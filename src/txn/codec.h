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
QString TextFromBytes(const std::uint8_t* bytes, std::uint8_t count);
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
