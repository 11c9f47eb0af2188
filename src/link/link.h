#pragma once
// What the transaction engine needs of a line: the open flag, one write and one read.
#include "modbus.h"

class ModbusLink {
public:
    virtual ~ModbusLink() = default;
    virtual bool isOpen() const = 0;
    // Discards both queues, zeroes the reply area, writes the bytes. The count written,
    // 0 on any failure.
    virtual std::uint16_t WriteFrame(const std::uint8_t* bytes, std::uint16_t count,
                                     ReplyBuffer& reply) = 0;
    // One reply into the area; BytesRead is 0 when nothing came within the read window.
    virtual bool ReadReply(ReplyBuffer& reply) = 0;
    // The last request got no reply that answered it, so its real reply may still be on its
    // way. Such a late reply must not be taken for the answer to the next request.
    virtual void ExpectLateReply() {}
};
