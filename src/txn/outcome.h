#pragma once
// How one transaction ended: every request that went out ends in exactly one outcome.
#include <QString>
#include <cstdint>

class TreeNode;

enum class ReplyOutcome {
    Valid,     // the reply answered the request and was decoded
    Exception, // the device refused the request with an exception code
    BadCrc,
    Mismatch, // a reply with a good CRC that does not answer this request
    NoReply   // nothing arrived within the read window
};

struct TransactionOutcome {
    ReplyOutcome kind = ReplyOutcome::NoReply;
    std::uint8_t exceptionCode = 0; // for Exception only
    const TreeNode* node = nullptr; // the register asked; none for a diagnostic
};

// The Modbus name of an exception code: "illegal data address" for 2, and so on.
QString ExceptionName(std::uint8_t code);
// A short Polish description for the operator: "brak odpowiedzi", "wyjątek 2 (illegal data
// address)", ...
QString OutcomeText(const TransactionOutcome& outcome);
