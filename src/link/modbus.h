#pragma once
// Modbus RTU frames: the single outgoing request, the single receive area, the CRC, the
// hexadecimal text of frames and the byte-order helpers.
#include <QString>
#include <cstdint>

constexpr int kFrameSize = 36;
constexpr int kReplySize = 128;
constexpr int kMaxWriteRegisters = 13; // 7 header bytes + 26 data bytes + CRC fill the frame

// Frame area positions.
enum FramePos : int {
    fpSlave = 0,
    fpFunction = 1,
    fpStart = 2,
    fpQuantity = 4,
    fpByteCount = 6,
    fpData = 7
};

struct RequestFrame {
    std::uint8_t Frame[kFrameSize] = {};
    std::uint16_t RegisterAddress = 0;
    std::uint16_t Crc = 0;
    std::uint8_t Length = 0;
    std::uint8_t RegisterCount = 0;
    std::uint8_t ValueType = 0;

    std::uint8_t FunctionCode() const { return Frame[fpFunction]; }
};

struct ReplyBuffer {
    std::uint8_t Bytes[kReplySize] = {};
    std::uint32_t BytesRead = 0;
};

// The function codes of the requests the program sends, and those vardel-sim also answers.
enum FunctionCode : std::uint8_t {
    fcReadCoils = 1,
    fcReadDiscreteInputs = 2,
    fcReadHoldingRegisters = 3,
    fcReadInputRegisters = 4,
    fcWriteSingleCoil = 5,
    fcWriteSingleRegister = 6,
    fcDiagnostics = 8,
    fcWriteMultipleCoils = 15,
    fcWriteMultipleRegisters = 16,
    fcReportServerId = 17,
    fcEncapsulatedInterface = 43 // with MEI type 14: read device identification
};
// The MEI type of a read device identification request and its reply.
constexpr std::uint8_t kMeiDeviceIdentification = 0x0E;
// Set in the function code of a reply that reports an exception.
constexpr std::uint8_t kExceptionBit = 0x80;

constexpr bool IsReadFunction(std::uint8_t function) {
    return function == fcReadHoldingRegisters || function == fcReadInputRegisters;
}
constexpr bool IsWriteFunction(std::uint8_t function) {
    return function == fcWriteSingleRegister || function == fcWriteMultipleRegisters;
}
constexpr bool IsExceptionReply(std::uint8_t function) {
    return (function & kExceptionBit) != 0;
}

// What the program knows of each function code, one row a code: how long its frames are
// and how a reply is matched to its request. FrameLength, ExpectedReplyLength and
// ReplyFitsRequest read only this table, so a new function is one row and its builder.
struct FunctionInfo {
    enum class Length : std::uint8_t {
        Fixed4,       // slave, function, CRC
        Fixed7,       // slave, function, MEI type, two bytes, CRC
        Fixed8,       // slave, function, four bytes, CRC
        ByteCountAt2, // slave, function, byte count, the data, CRC
        ByteCountAt6, // slave, function, address, quantity, byte count, the data, CRC
        ObjectList    // a device identification: its header, then each object's id, length, bytes
    };
    enum class Fit : std::uint8_t {
        None,          // never sent by the program: no reply fits
        RegistersRead, // twice the registers asked for, in their byte count
        EchoedHeader,  // the request's four bytes after the function, echoed in 8 bytes
        ByteCount,     // any data of at least one byte, in its byte count
        ObjectList     // the MEI type and read code asked for, its objects filling the frame
    };
    FunctionCode code;
    Length request, reply;
    Fit fit;
};
// The row of a function code; nullptr for a code the table does not know.
const FunctionInfo* FunctionInfoOf(std::uint8_t function);

enum class FrameKind { Request, Reply };
// The length of a whole frame (CRC included) from its first count bytes: 0 while the header
// does not tell it yet, and for a function code this table does not know.
int FrameLength(FrameKind kind, const std::uint8_t* bytes, int count);

// The length of the whole reply a well-formed answer to the request has (CRC included): 5 +
// twice the quantity for reads, 8 for writes and diagnostics; the whole reply area for a
// function whose reply says its own length (17, 43); 0 when not known.
int ExpectedReplyLength(const std::uint8_t* request, int count);

// The line settings of a baud text and a parity position, as the port takes them: 1 even
// ("19200,e,8,1"), 2 odd, anything else none with a second stop bit ("19200,n,8,2").
QString LineSettingsFor(const QString& baud, int parityIndex);

// How long that many bytes take on a line at the baud rate, rounded up: eleven bit times a
// character (start, 8 data bits, parity or a second stop bit, stop). 0 for no baud rate.
int LineTimeMs(int bytes, int baud);

// CRC-16/MODBUS: init FFFF, reflected polynomial A001, no final XOR; "123456789" gives 4B37.
std::uint16_t Crc16(const std::uint8_t* bytes, std::uint16_t count);
// Appends the CRC of the frame's Length bytes, low byte first; never writes past the frame.
void AppendCrc(RequestFrame& frame);
// False for fewer than 2 bytes, which carry no CRC.
bool CheckReplyCrc(const std::uint8_t* bytes, std::uint16_t count);
// Whether a reply (CRC already checked) answers the request: the same slave; the request's
// function, or that function with bit 7 set in a 5-byte exception reply; a read's byte count
// of twice the registers asked for, in a frame of 5 + that count; the echoed address and value
// (6), address and quantity (16), or sub-function and data (8) in 8 bytes; a server ID (17) in
// its byte count; a device identification (43) of the MEI type and read code asked for whose
// object list ends exactly at the CRC.
bool ReplyFitsRequest(const RequestFrame& request, const std::uint8_t* reply, std::uint16_t count);
// Whether the bytes received are the request's own, or the first 5 or more of them: an
// adapter that echoes what it sends, read where a reply was awaited.
bool IsEchoOfRequest(const RequestFrame& request, const std::uint8_t* reply, std::uint16_t count);
// "$" followed by two upper-case hexadecimal digits per byte.
QString HexText(const std::uint8_t* bytes, std::uint16_t count);

void Swap16(std::uint16_t& word);
void Reverse4(std::uint8_t* bytes);
void SwapPairs(std::uint8_t* bytes, std::uint16_t count);

// A 16-bit field of the frame area, high byte first.
void PutWord(RequestFrame& frame, int position, std::uint16_t value);
