#pragma once
// One request on a link outside the engine, for the line doctor's probes: they try line
// settings and addresses that are not the session's, so they are not the session's requests
// nor in its statistics. Its reply is judged as the engine judges every reply.
#include "link/link.h"
#include "txn/outcome.h"
#include <QByteArray>
#include <functional>

struct RawReply {
    ReplyOutcome kind = ReplyOutcome::NoReply;
    std::uint8_t exceptionCode = 0; // for Exception only
    QByteArray bytes;               // what arrived, CRC included
    double elapsedMs = -1;
};
// A reply that did not answer may be a late one: the next request then waits it out.
RawReply SendRaw(ModbusLink& link, const RequestFrame& request);
// Called with each such request and how it ended, for the traffic shown and logged.
using RawExchanged = std::function<void(const RequestFrame&, const RawReply&)>;
