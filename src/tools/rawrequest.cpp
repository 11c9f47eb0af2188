#include "rawrequest.h"
#include "txn/engine.h"

RawReply SendRaw(ModbusLink& link, const RequestFrame& request) {
    ReplyBuffer reply;
    link.WriteFrame(request.Frame, request.Length, reply);
    link.ReadReply(reply);
    const TransactionOutcome judged = JudgeReply(request, reply);
    RawReply r{judged.kind, judged.exceptionCode, judged.reply, -1};
    if (!r.bytes.isEmpty()) r.elapsedMs = link.lastReplyMs;
    // A reply that did not answer may be a late one: the next request then waits it out.
    if (r.kind != ReplyOutcome::Valid && r.kind != ReplyOutcome::Exception) link.ExpectLateReply();
    return r;
}
