#pragma once
// A scripted link and a recording frontend for engine tests.
#include "txn/engine.h"
#include <QByteArray>
#include <QList>
#include <cstring>
#include <functional>

inline QByteArray WithCrc(const QByteArray& head) {
    const auto crc =
        Crc16(reinterpret_cast<const std::uint8_t*>(head.constData()), std::uint16_t(head.size()));
    return head + char(crc & 0xFF) + char(crc >> 8);
}

// Answers each request with what the script returns for it (empty: no reply).
class ScriptedLink : public ModbusLink {
public:
    bool open = true;
    QList<QByteArray> requests;
    std::function<QByteArray(const QByteArray& request)> script;
    // The deepest and shallowest stack positions seen at a write, to check stack growth.
    std::uintptr_t lowestStack = UINTPTR_MAX, highestStack = 0;

    bool isOpen() const override { return open; }
    std::uint16_t WriteFrame(const std::uint8_t* bytes, std::uint16_t count,
                             ReplyBuffer& reply) override {
        volatile char marker = 0;
        const auto here = reinterpret_cast<std::uintptr_t>(&marker);
        lowestStack = std::min(lowestStack, here);
        highestStack = std::max(highestStack, here);
        std::memset(reply.Bytes, 0, kReplySize);
        requests << QByteArray(reinterpret_cast<const char*>(bytes), count);
        return count;
    }
    int lateReplies = 0;
    void ExpectLateReply() override { ++lateReplies; }
    bool ReadReply(ReplyBuffer& reply) override {
        const QByteArray answer = script ? script(requests.last()) : QByteArray();
        const int n = std::min<int>(answer.size(), kReplySize);
        std::memcpy(reply.Bytes, answer.constData(), n);
        reply.BytesRead = n;
        return true;
    }
    std::size_t stackUsed() const { return highestStack - lowestStack; }
};

// A reply to a read of registers holding the given words; echo for writes.
inline QByteArray Answer(const QByteArray& request, const QList<quint16>& words) {
    const char function = request[1];
    if (function == 6 || function == 8) return request;
    if (function == 16) return WithCrc(request.left(6));
    QByteArray data;
    for (quint16 w : words)
        data += char(w >> 8), data += char(w & 0xFF);
    return WithCrc(request.left(2) + char(data.size()) + data);
}

inline int AddressOf(const QByteArray& request) {
    return (quint8(request[2]) << 8) | quint8(request[3]);
}

class RecordingFrontend : public Frontend {
public:
    QStringList messages, log;
    QString tx = "-", rx = "-", slave = "247";
    bool monitor = false;
    int repaintStarts = 0, pausedMs = 0;
    std::function<void()> events;

    void ShowMessage(const QString& text) override { messages << text; }
    void ProcessEvents() override {
        if (events) events();
    }
    void SetTxText(const QString& text) override { tx = text; }
    void SetRxText(const QString& text) override { rx = text; }
    void AppendLog(const QString& line) override { log << line; }
    bool MonitorChecked() const override { return monitor; }
    void StartRepaintTimer() override { ++repaintStarts; }
    void Pause(int ms) override { pausedMs += ms; }
    QString SlaveText() const override { return slave; }
    QList<ReplyOutcome> outcomes;
    void TransactionEnded(const TransactionOutcome& outcome) override { outcomes << outcome.kind; }
};
