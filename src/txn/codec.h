#pragma once
// Register values between the tree's texts and the wire's registers.
#include "regmap/tree.h"
#include "state.h"
#include <cstdint>

// Decodes the reply in state.reply by the request in state.frame. False for an exception
// reply and for a read reply too short for its byte count or its type; then nothing is
// stored and DecodedText keeps its text.
bool DecodeReply(TxnState& state, RegisterTree& tree);
void StoreValue(TxnState& state, RegisterTree& tree);
void MarkOptions(TxnState& state, std::int32_t value);
QString TextFromBytes(const std::uint8_t* bytes, std::uint8_t count);
// Fills the data area of state.frame from the node's Value by frame.ValueType. A TEXT value
// goes out in Windows-1250 ('?' for characters the code page lacks), cut to the registers'
// bytes; PendingWriteText then holds the text as sent.
void EncodeWriteData(TxnState& state, const RegisterNode& node);
