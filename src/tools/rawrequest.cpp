#include "rawrequest.h"
#include <algorithm>

RawReply SendRaw(ModbusLink& link, const RequestFrame& request) {
    ReplyBuffer reply;
    link.WriteFrame(request.Frame, request.Length, reply);
    link.ReadReply(reply);
    const auto received =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(reply.BytesRead, kReplySize));
    RawReply r;
    r.bytes = QByteArray(reinterpret_cast<const char*>(reply.Bytes), received);
    if (received == 0) {
        link.ExpectLateReply();
        return r;
    }
    r.elapsedMs = link.lastReplyMs;
    const bool crcOk = CheckReplyCrc(reply.Bytes, received);
    if (crcOk && ReplyFitsRequest(request, reply.Bytes, received)) {
        r.kind = IsExceptionReply(reply.Bytes[fpFunction]) ? ReplyOutcome::Exception
                                                           : ReplyOutcome::Valid;
        if (r.kind == ReplyOutcome::Exception) r.exceptionCode = reply.Bytes[2];
        return r;
    }
    link.ExpectLateReply();
    r.kind = IsEchoOfRequest(request, reply.Bytes, received) ? ReplyOutcome::Echo
             : crcOk                                         ? ReplyOutcome::Mismatch
                                                             : ReplyOutcome::BadCrc;
    return r;
}
