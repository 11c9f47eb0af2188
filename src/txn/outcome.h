#pragma once
// How one transaction ended: every request that went out ends in exactly one outcome.
#include <QByteArray>
#include <QString>
#include <cstdint>

class TreeNode;

enum class ReplyOutcome {
    Valid,     // the reply answered the request and was decoded
    Exception, // the device refused the request with an exception code
    BadCrc,
    Mismatch, // a reply with a good CRC that does not answer this request
    NoReply,  // nothing arrived within the read window
    Echo      // the request's own bytes came back: the adapter echoes what it sends
};
constexpr int kReplyOutcomes = 6;

struct TransactionOutcome {
    ReplyOutcome kind = ReplyOutcome::NoReply;
    std::uint8_t exceptionCode = 0; // for Exception only
    const TreeNode* node = nullptr; // the register asked; none for a diagnostic
    std::uint8_t function = 0;      // the request's function code
    double elapsedMs = -1;          // the reply's time after the request went out; -1: none
    QByteArray reply{};             // what arrived, CRC included; empty: nothing
};

// The Modbus meaning of an exception code, in Polish: "niedozwolony adres danych" for 2...
QString ExceptionName(std::uint8_t code);
// A description for the operator: "brak odpowiedzi", "wyjątek 2 (niedozwolony adres
// danych)", ...
QString OutcomeText(const TransactionOutcome& outcome);
// The same in a few characters, for a log line: "brak odpowiedzi", "wyjątek 2", ...
QString ShortOutcomeText(ReplyOutcome kind, std::uint8_t exceptionCode);
