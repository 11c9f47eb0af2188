#include "builders.h"
#include "codec.h"
#include "regmap/error.h"

namespace {

void SetAddress(RequestFrame& frame, const RegisterNode& node) {
    frame.RegisterAddress = static_cast<std::uint16_t>(ParseInteger(node.Address));
    PutWord(frame, fpStart, frame.RegisterAddress);
}

void SetSlave(RequestFrame& frame, const QString& slave, std::uint8_t function) {
    frame.Frame[fpSlave] = static_cast<std::uint8_t>(ParseInteger(slave));
    frame.Frame[fpFunction] = function;
}

void CheckWriteCount(const RegisterNode& node) {
    const std::int32_t count = ParseInteger(node.Count);
    if (count < 0 || count > kMaxWriteRegisters)
        throw AppError(QStringLiteral("Nie można zapisać %1 rejestrów jednym żądaniem: "
                                      "najwyżej %2")
                           .arg(count)
                           .arg(kMaxWriteRegisters));
}

} // namespace

void BuildReadRequest(TxnState& state, const RegisterNode& node, const QString& slave) {
    RequestFrame& frame = state.frame;
    SetSlave(frame, slave, AccessCodeOf(node.Access) == acRO ? 4 : 3);
    SetAddress(frame, node);
    frame.RegisterCount = static_cast<std::uint8_t>(ParseInteger(node.Count));
    PutWord(frame, fpQuantity, frame.RegisterCount);
    frame.Length = 6;
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
}

void BuildWriteSingleRequest(TxnState& state, const RegisterNode& node, const QString& slave) {
    RequestFrame& frame = state.frame;
    SetSlave(frame, slave, 6);
    SetAddress(frame, node);
    PutWord(frame, fpQuantity, static_cast<std::uint16_t>(ParseInteger(node.Value)));
    frame.Length = 6;
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
}

void BuildWriteMultipleRequest(TxnState& state, const RegisterNode& node, const QString& slave) {
    CheckWriteCount(node);
    RequestFrame& frame = state.frame;
    SetSlave(frame, slave, 16);
    state.PendingWriteText = node.Value;
    EncodeWriteData(state, node);
    SetAddress(frame, node);
    frame.RegisterCount = static_cast<std::uint8_t>(ParseInteger(node.Count));
    PutWord(frame, fpQuantity, frame.RegisterCount);
    frame.Frame[fpByteCount] = static_cast<std::uint8_t>(2 * frame.RegisterCount);
    frame.Length = static_cast<std::uint8_t>(fpData + 2 * frame.RegisterCount);
    if (state.SwapWriteData) SwapPairs(frame.Frame + fpData, 2 * (frame.RegisterCount / 2 + 1));
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
}

bool BuildDiagnosticRequest(TxnState& state, const QString& slave, const QString& subFunction,
                            const QString& data) {
    RequestFrame& frame = state.frame;
    frame.ValueType = tcHex;
    const auto address = static_cast<std::uint8_t>(ParseInteger(slave));
    if (address == 0) return false;
    frame.Frame[fpSlave] = address;
    frame.Frame[fpFunction] = 8;
    frame.RegisterAddress = static_cast<std::uint16_t>(ParseInteger(subFunction));
    PutWord(frame, fpStart, frame.RegisterAddress);
    const auto word = static_cast<std::uint16_t>(ParseInteger(data));
    PutWord(frame, fpQuantity, word);
    frame.RegisterCount = word & 0xFF;
    frame.Length = 6;
    AppendCrc(frame);
    return true;
}
