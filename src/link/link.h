#pragma once
// What the transaction engine needs of a line: the open flag, one write and one read, and
// what every kind of line tells its owner: why it failed, that it was lost, how long the
// last reply took.
#include "modbus.h"
#include <QString>
#include <functional>

class ModbusLink {
public:
    virtual ~ModbusLink() = default;
    // Why the last open failed or the link was lost, in Polish with the system's reason.
    QString failureReason;
    // Called when a read or write error closed the link.
    std::function<void()> onLost;
    // From the end of the last request's write to the end of its reply, in milliseconds;
    // negative when nothing was written. A wait for an earlier request's late reply before
    // the write is not in it.
    double lastReplyMs = -1;

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
