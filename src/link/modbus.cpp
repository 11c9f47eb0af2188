#include "modbus.h"
#include <algorithm>
#include <utility>

QString LineSettingsFor(const QString& baud, int parityIndex) {
    switch (parityIndex) {
    case 1:
        return baud + QStringLiteral(",e,8,1");
    case 2:
        return baud + QStringLiteral(",o,8,1");
    default:
        return baud + QStringLiteral(",n,8,2");
    }
}

std::uint16_t Crc16(const std::uint8_t* bytes, std::uint16_t count) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint16_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

void AppendCrc(RequestFrame& frame) {
    if (frame.Length + 2 > kFrameSize) return;
    frame.Crc = Crc16(frame.Frame, frame.Length);
    frame.Frame[frame.Length] = frame.Crc & 0xFF;
    frame.Frame[frame.Length + 1] = frame.Crc >> 8;
    frame.Length += 2;
}

bool CheckReplyCrc(const std::uint8_t* bytes, std::uint16_t count) {
    if (count < 2) return false;
    const std::uint16_t received = bytes[count - 2] | bytes[count - 1] << 8;
    return received == Crc16(bytes, count - 2);
}

namespace {

using Length = FunctionInfo::Length;
using Fit = FunctionInfo::Fit;
constexpr FunctionInfo kFunctions[] = {
    {fcReadCoils, Length::Fixed8, Length::ByteCountAt2, Fit::None},
    {fcReadDiscreteInputs, Length::Fixed8, Length::ByteCountAt2, Fit::None},
    {fcReadHoldingRegisters, Length::Fixed8, Length::ByteCountAt2, Fit::RegistersRead},
    {fcReadInputRegisters, Length::Fixed8, Length::ByteCountAt2, Fit::RegistersRead},
    {fcWriteSingleCoil, Length::Fixed8, Length::Fixed8, Fit::None},
    {fcWriteSingleRegister, Length::Fixed8, Length::Fixed8, Fit::EchoedHeader},
    {fcDiagnostics, Length::Fixed8, Length::Fixed8, Fit::EchoedHeader},
    {fcWriteMultipleCoils, Length::ByteCountAt6, Length::Fixed8, Fit::None},
    {fcWriteMultipleRegisters, Length::ByteCountAt6, Length::Fixed8, Fit::EchoedHeader},
    {fcReportServerId, Length::Fixed4, Length::ByteCountAt2, Fit::ByteCount},
    {fcEncapsulatedInterface, Length::Fixed7, Length::ObjectList, Fit::ObjectList},
};

// The header of a device identification reply: slave, function, MEI type, read code,
// conformity level, more follows, next object, number of objects.
constexpr int kObjectListHeader = 8;

// The length of a device identification reply from its first count bytes (CRC included): 0
// while its header or an object's header has not arrived. It may exceed the reply area.
int ObjectListLength(const std::uint8_t* bytes, int count) {
    if (count < kObjectListHeader) return 0;
    int at = kObjectListHeader;
    for (int object = 0; object < bytes[kObjectListHeader - 1]; ++object) {
        if (at + 2 > count) return 0;
        at += 2 + bytes[at + 1];
    }
    return at + 2;
}

int QuantityOf(const std::uint8_t* request) {
    return request[fpQuantity] << 8 | request[fpQuantity + 1];
}

} // namespace

const FunctionInfo* FunctionInfoOf(std::uint8_t function) {
    for (const FunctionInfo& row : kFunctions)
        if (row.code == function) return &row;
    return nullptr;
}

int FrameLength(FrameKind kind, const std::uint8_t* bytes, int count) {
    if (count < 2) return 0;
    if (kind == FrameKind::Reply && IsExceptionReply(bytes[1])) return 5;
    const FunctionInfo* row = FunctionInfoOf(bytes[1]);
    if (!row) return 0;
    switch (kind == FrameKind::Request ? row->request : row->reply) {
    case Length::Fixed4:
        return 4;
    case Length::Fixed7:
        return 7;
    case Length::ObjectList:
        return ObjectListLength(bytes, count);
    case Length::Fixed8:
        return 8;
    case Length::ByteCountAt2:
        return count < 3 ? 0 : 5 + bytes[2];
    case Length::ByteCountAt6:
        return count < 7 ? 0 : 9 + bytes[fpByteCount];
    }
    return 0;
}

int ExpectedReplyLength(const std::uint8_t* request, int count) {
    if (count < 4) return 0;
    const FunctionInfo* row = FunctionInfoOf(request[fpFunction]);
    if (row && (row->fit == Fit::ByteCount || row->fit == Fit::ObjectList)) return kReplySize;
    if (count < 6) return 0;
    if (row && row->fit == Fit::RegistersRead)
        return std::min(5 + 2 * QuantityOf(request), kReplySize);
    return FrameLength(FrameKind::Reply, request, count);
}

int LineTimeMs(int bytes, int baud) {
    if (baud <= 0 || bytes <= 0) return 0;
    return static_cast<int>((bytes * 11LL * 1000 + baud - 1) / baud);
}

bool ReplyFitsRequest(const RequestFrame& request, const std::uint8_t* reply, std::uint16_t count) {
    const std::uint8_t* asked = request.Frame;
    const std::uint8_t function = asked[fpFunction];
    if (count < 5 || reply[0] != asked[fpSlave]) return false;
    if (reply[1] == (function | kExceptionBit)) return count == 5;
    const FunctionInfo* row = FunctionInfoOf(function);
    if (reply[1] != function || !row) return false;
    switch (row->fit) {
    case Fit::RegistersRead:
        return reply[2] == 2 * QuantityOf(asked) && count == 5 + reply[2];
    case Fit::EchoedHeader:
        return count == 8 && std::equal(reply + 2, reply + 6, asked + fpStart);
    case Fit::ByteCount:
        return reply[2] > 0 && count == 5 + reply[2];
    case Fit::ObjectList:
        return count >= kObjectListHeader + 2 && reply[2] == kMeiDeviceIdentification &&
               asked[2] == kMeiDeviceIdentification && reply[3] == asked[3] &&
               ObjectListLength(reply, count) == count;
    case Fit::None:
        return false;
    }
    return false;
}

bool IsEchoOfRequest(const RequestFrame& request, const std::uint8_t* reply, std::uint16_t count) {
    return count >= 5 && count <= request.Length && std::equal(reply, reply + count, request.Frame);
}

QString HexText(const std::uint8_t* bytes, std::uint16_t count) {
    static const char digits[] = "0123456789ABCDEF";
    QString text(1 + 2 * count, Qt::Uninitialized);
    text[0] = '$';
    for (std::uint16_t i = 0; i < count; ++i) {
        text[1 + 2 * i] = QLatin1Char(digits[bytes[i] >> 4]);
        text[2 + 2 * i] = QLatin1Char(digits[bytes[i] & 0x0F]);
    }
    return text;
}

void Swap16(std::uint16_t& word) {
    word = static_cast<std::uint16_t>(word << 8 | word >> 8);
}

void Reverse4(std::uint8_t* bytes) {
    std::swap(bytes[0], bytes[3]);
    std::swap(bytes[1], bytes[2]);
}

void SwapPairs(std::uint8_t* bytes, std::uint16_t count) {
    for (int i = 0; i < count / 2; ++i)
        std::swap(bytes[2 * i], bytes[2 * i + 1]);
}

void PutWord(RequestFrame& frame, int position, std::uint16_t value) {
    frame.Frame[position] = value >> 8;
    frame.Frame[position + 1] = value & 0xFF;
}
