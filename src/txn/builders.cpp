#include "builders.h"
#include "codec.h"
#include "regmap/error.h"
#include <algorithm>

namespace {

void SetAddress(RequestFrame& frame, const RegisterNode& node) {
    frame.RegisterAddress = static_cast<std::uint16_t>(ParseInteger(node.Address));
    PutWord(frame, fpStart, frame.RegisterAddress);
}

void SetSlave(RequestFrame& frame, const QString& slave, std::uint8_t function) {
    frame.Frame[fpSlave] = static_cast<std::uint8_t>(ParseInteger(slave));
    frame.Frame[fpFunction] = function;
}

} // namespace

RequestFrame BuildReadRequest(const RegisterNode& node, const QString& slave) {
    RequestFrame frame;
    SetSlave(frame, slave,
             AccessCodeOf(node.Access) == acRO ? fcReadInputRegisters : fcReadHoldingRegisters);
    SetAddress(frame, node);
    frame.RegisterCount = static_cast<std::uint8_t>(ParseInteger(node.Count));
    PutWord(frame, fpQuantity, frame.RegisterCount);
    frame.Length = 6;
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
    return frame;
}

RequestFrame BuildWriteSingleRequest(const RegisterNode& node, const QString& slave) {
    RequestFrame frame;
    SetSlave(frame, slave, fcWriteSingleRegister);
    SetAddress(frame, node);
    PutWord(frame, fpQuantity, static_cast<std::uint16_t>(RegisterInteger(node, 1)));
    frame.Length = 6;
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
    return frame;
}

WriteRequest BuildWriteMultipleRequest(const RegisterNode& node, const QString& slave) {
    WriteRegisterCount(node); // refused before anything else is read
    WriteRequest request;
    RequestFrame& frame = request.frame;
    SetSlave(frame, slave, fcWriteMultipleRegisters);
    const WriteData data = EncodeWriteData(node);
    std::copy(data.bytes.begin(), data.bytes.end(), frame.Frame + fpData);
    request.sentText = data.sentText;
    SetAddress(frame, node);
    frame.RegisterCount = static_cast<std::uint8_t>(ParseInteger(node.Count));
    PutWord(frame, fpQuantity, frame.RegisterCount);
    frame.Frame[fpByteCount] = static_cast<std::uint8_t>(2 * frame.RegisterCount);
    frame.Length = static_cast<std::uint8_t>(fpData + 2 * frame.RegisterCount);
    AppendCrc(frame);
    frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node.Type));
    return request;
}

std::optional<RequestFrame> BuildDiagnosticRequest(const QString& slave, const QString& subFunction,
                                                   const QString& data) {
    const auto address = static_cast<std::uint8_t>(ParseInteger(slave));
    if (address == 0) return std::nullopt;
    RequestFrame frame;
    frame.ValueType = tcHex;
    frame.Frame[fpSlave] = address;
    frame.Frame[fpFunction] = fcDiagnostics;
    frame.RegisterAddress = static_cast<std::uint16_t>(ParseInteger(subFunction));
    PutWord(frame, fpStart, frame.RegisterAddress);
    const auto word = static_cast<std::uint16_t>(ParseInteger(data));
    PutWord(frame, fpQuantity, word);
    frame.RegisterCount = word & 0xFF;
    frame.Length = 6;
    AppendCrc(frame);
    return frame;
}
