#include "engine.h"
#include "builders.h"
#include "codec.h"
#include "logformat.h"
#include "loglines.h"
#include "logwords.h"
#include "regmap/error.h"

namespace {
TransactionOutcome OutcomeOfAcceptedReply(bool decoded, const ReplyBuffer& reply) {
    if (decoded) return {ReplyOutcome::Valid};
    if (IsExceptionReply(reply.Bytes[1])) return {ReplyOutcome::Exception, reply.Bytes[2]};
    return {ReplyOutcome::Mismatch}; // too short for the register's type
}

bool IsRegister(const TreeNode* node) {
    return AccessCodeOf(node->record.Access) != acNone;
}

// The node after this one in a walk over root: depth first, into groups but never into a
// register (its options and byte groups are not registers of the walk).
TreeNode* NextInWalk(const TreeNode* node, const TreeNode* root) {
    if (!IsRegister(node))
        if (TreeNode* child = RegisterTree::FirstChild(node)) return child;
    for (const TreeNode* n = node; n && n != root; n = n->parent())
        if (TreeNode* sibling = RegisterTree::NextSibling(n)) return sibling;
    return nullptr;
}

// The first register after the node in the walk over root.
TreeNode* NextRegisterInWalk(const TreeNode* node, const TreeNode* root) {
    for (TreeNode* n = NextInWalk(node, root); n; n = NextInWalk(n, root))
        if (IsRegister(n)) return n;
    return nullptr;
}

} // namespace

TransactionEngine::TransactionEngine(RegisterTree& tree, ModbusLink& link, Frontend& frontend)
    : tree_(tree), link_(link), frontend_(frontend) {}

template <typename F> void TransactionEngine::Entry(F&& body) {
    // Called from a handler of the running job: part of that job's chain.
    if (!frames_.empty() && !frames_.back()->eventsRunning) {
        body();
        return;
    }
    if (frames_.empty()) { // a new job: nothing of an earlier one carries over
        stopRequested_ = false;
        failuresInRow_ = 0;
    }
    JobFrame frame;
    frames_.push_back(&frame);
    struct Pop {
        TransactionEngine* engine;
        ~Pop() {
            engine->frames_.pop_back();
            if (engine->frames_.empty() && engine->onIdle) engine->onIdle();
        }
    } pop{this};
    try {
        body();
        RunPending(frame);
    } catch (...) {
        // An error ends the walk it met: the next double click reads what it names.
        if (state_.Walking && walkFrame_ == &frame)
            FinishWalk(LogWords::kStoppedByError.toString(), announceStop_);
        throw;
    }
}

void TransactionEngine::RunPending(JobFrame& frame) {
    while (frame.pending != 0) {
        const CycleMessage message = frame.pending;
        frame.pending = CycleMessage(0);
        if (message == MSG_NEXT && stopRequested_) {
            const bool running = continuation_ && continuation_->Abandon();
            if (state_.Walking) { // the operator gave the walk up: clicks work again
                if (answered_.ok && answered_.purpose == RequestPurpose::Walk) AdvanceWalkNode();
                FinishWalk(LogWords::kStopped.toString(), announceStop_);
            } else if (running && announceStop_) {
                frontend_.AppendLog(LogWords::kStopped.toString());
            }
            return;
        }
        Handle(message);
    }
}

void TransactionEngine::Handle(CycleMessage message) {
    switch (message) {
    case MSG_NEXT:
        OnNext();
        break;
    case MSG_REPLY:
        OnReply();
        break;
    case MSG_NO_REPLY:
        OnNoReply();
        break;
    case MSG_CRC_ERROR:
        OnCrcError();
        break;
    }
}

void TransactionEngine::Dispatch(CycleMessage message) {
    if (frames_.empty()) {
        Entry([&] { Handle(message); });
        return;
    }
    frames_.back()->pending = message;
}

template <typename F> void TransactionEngine::WithEventsRunning(F&& call) {
    // Events let through here may start jobs of their own: they get frames of their own.
    JobFrame* frame = frames_.empty() ? nullptr : frames_.back();
    if (frame) frame->eventsRunning = true;
    struct Close {
        JobFrame* frame;
        ~Close() {
            if (frame) frame->eventsRunning = false;
        }
    } close{frame};
    call();
}

void TransactionEngine::LetEventsRun() {
    WithEventsRunning([this] { frontend_.ProcessEvents(); });
}

void TransactionEngine::ShowModal(const QString& text) {
    WithEventsRunning([&] { frontend_.ShowMessage(text); });
}

void TransactionEngine::RequestStop(bool announce) {
    if (!Busy()) return;
    stopRequested_ = true;
    announceStop_ = announce;
}

void TransactionEngine::ForgetNodes() {
    state_.CurrentNode = nullptr;
    state_.CurrentRecord = nullptr;
    state_.HighlightNode = nullptr;
    lastOutcome_ = {};
    state_.Walking = false;
    walkRoot_ = nullptr;
    walkFrame_ = nullptr;
    failuresInRow_ = 0;
    requestNode_ = nullptr;
    answered_ = {};
}

int TransactionEngine::NodeAccess(const TreeNode* node) {
    return node ? AccessCodeOf(node->record.Access) : -1;
}

void TransactionEngine::ClearTransactionTexts() {
    state_.TxText.clear();
    state_.LogAddressText.clear();
    state_.LogNameText.clear();
    state_.LogValueText.clear();
}

// A group is read register by register in tree order, its sub-groups' registers included.
void TransactionEngine::ReadFromNode(TreeNode* node) {
    Entry([&] {
        if (!node) return;
        lastWalkNotRead_ = 0;
        if (NodeAccess(node) != acNone) {
            state_.CurrentNode = node;
            ReadRegisterStep(node);
            return;
        }
        state_.CurrentNode = NextRegisterInWalk(node, node);
        if (!state_.CurrentNode) return;
        state_.Walking = true;
        walkRoot_ = node;
        walkFrame_ = frames_.back();
        walkTotal_ = RegistersLeftInWalk();
        walkFailed_ = 0;
        failuresInRow_ = 0;
        retried_ = false;
        ReadRegisterStep(state_.CurrentNode, RequestPurpose::Walk);
    });
}

void TransactionEngine::ReadRegister(TreeNode* node) {
    Entry([&] { ReadRegisterStep(node); });
}

void TransactionEngine::MonitorRead(TreeNode* node) {
    Entry([&] { ReadRegisterStep(node, RequestPurpose::Monitor); });
}

void TransactionEngine::ReadRegisterStep(TreeNode* node, RequestPurpose purpose) {
    if (!node) return;
    purpose_ = purpose;
    state_.CurrentRecord = &node->record;
    state_.CurrentRecord->Value.clear();
    node->valueOrigin = ValueOrigin::Device; // empty until the reply says otherwise
    tree_.NodeChanged(node); // an empty cell, not the old value, until the reply comes
    ClearTransactionTexts();
    state_.LogNameText = node->record.Name;
    state_.LogAddressText = node->record.Address;
    state_.frame = BuildReadRequest(node->record, frontend_.SlaveText());
    requestNode_ = node;
    Transact();
}

void TransactionEngine::WriteRegister(TreeNode* node) {
    Entry([&] { WriteRegisterStep(node); });
}

void TransactionEngine::WriteRegisterStep(TreeNode* node) {
    const int access = NodeAccess(node);
    if (access != acRW && access != acRP) return;
    const RegisterNode& r = node->record;
    // A value that fails to convert throws before the request is replaced.
    if (ParseInteger(r.Count) == 1) {
        state_.frame = BuildWriteSingleRequest(r, frontend_.SlaveText());
        state_.PendingWriteText = r.Value;
    } else {
        WriteRequest request = BuildWriteMultipleRequest(r, frontend_.SlaveText());
        state_.frame = request.frame;
        state_.PendingWriteText = request.sentText;
    }
    state_.LogAddressText = r.Address;
    state_.LogNameText = r.Name + ':';
    state_.LogValueText = state_.PendingWriteText; // the value as the request carries it
    requestNode_ = node;
    purpose_ = RequestPurpose::Operator;
    Transact();
}

void TransactionEngine::WriteCurrent() {
    Entry([&] {
        if (state_.CurrentNode && NodeAccess(state_.CurrentNode) != acNone)
            WriteRegisterStep(state_.CurrentNode);
    });
}

void TransactionEngine::WriteIfWritable(TreeNode* node) {
    Entry([&] { WriteIfWritableStep(node); });
}

void TransactionEngine::WriteIfWritableStep(TreeNode* node) {
    const int access = NodeAccess(node);
    if (access != acRW && access != acRP) return;
    if (TypeCodeOf(node->record.Type) != tcNone) WriteRegisterStep(node);
}

void TransactionEngine::MakeCurrent(TreeNode* node) {
    state_.CurrentNode = node;
    state_.CurrentRecord = node ? &node->record : nullptr;
}

void TransactionEngine::SendDiagnostic(const QString& logName, const QString& subFunction,
                                       const QString& data) {
    Entry([&] {
        // Its own log texts, so its line never repeats the last register's.
        ClearTransactionTexts();
        state_.LogNameText = logName;
        const auto frame = BuildDiagnosticRequest(frontend_.SlaveText(), subFunction, data);
        if (!frame) return;
        state_.frame = *frame;
        requestNode_ = nullptr;
        purpose_ = RequestPurpose::Operator;
        Transact();
    });
}

void TransactionEngine::Transact() {
    Entry([&] {
        state_.LastReplyOk = false; // until this request's own reply says otherwise
        if (!link_.isOpen()) {
            ShowModal(QStringLiteral("brak połączenia !"));
            if (purpose_ == RequestPurpose::Walk && state_.Walking)
                FinishWalk(LogWords::kStoppedNoConnection.toString(), true);
            return;
        }
        RequestFrame& frame = state_.frame;
        state_.TxText = HexText(frame.Frame, frame.Length);
        // Texts of the device file and of replies never bring control characters into a line.
        const QString line =
            TransactionLine(PrintableText(state_.LogAddressText), PrintableText(state_.LogNameText),
                            PrintableText(state_.LogValueText));
        frontend_.SetTxText(state_.TxText);
        frontend_.SetRxText(QString());
        pendingLines_ = QStringList{line};
        link_.WriteFrame(frame.Frame, frame.Length, state_.reply);
        link_.ReadReply(state_.reply);
        const auto received =
            static_cast<std::uint16_t>(std::min<std::uint32_t>(state_.reply.BytesRead, kReplySize));
        // As they came: decoding turns the area's words in place.
        replyBytes_ = QByteArray(reinterpret_cast<const char*>(state_.reply.Bytes), received);
        if (received == 0) {
            link_.ExpectLateReply();
            Ended({ReplyOutcome::NoReply, 0, requestNode_});
            // A walk goes on past a register that does not answer; anything else ends here.
            if (purpose_ == RequestPurpose::Walk) Dispatch(MSG_NO_REPLY);
            return;
        }
        frontend_.SetRxText(HexText(state_.reply.Bytes, received));
        const bool crcOk = CheckReplyCrc(state_.reply.Bytes, received);
        if (crcOk && ReplyFitsRequest(frame, state_.reply.Bytes, received)) {
            Dispatch(MSG_REPLY);
            return;
        }
        // Not the answer to this request, perhaps a late one to an earlier request: it is
        // handled as a damaged reply, and the real answer may still come.
        link_.ExpectLateReply();
        refusedBy_ = IsEchoOfRequest(frame, state_.reply.Bytes, received) ? ReplyOutcome::Echo
                     : crcOk                                              ? ReplyOutcome::Mismatch
                                                                          : ReplyOutcome::BadCrc;
        Dispatch(MSG_CRC_ERROR);
    });
}

// Every request's end, with its function and the time its reply took.
void TransactionEngine::Ended(TransactionOutcome outcome) {
    outcome.function = state_.frame.FunctionCode();
    if (outcome.kind != ReplyOutcome::NoReply) outcome.elapsedMs = link_.lastReplyMs;
    outcome.reply = replyBytes_;
    lastOutcome_ = outcome;
    frontend_.TransactionEnded(outcome);
}

TransactionOutcome JudgeReply(const RequestFrame& request, const ReplyBuffer& reply) {
    const auto received =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(reply.BytesRead, kReplySize));
    TransactionOutcome outcome;
    outcome.function = request.FunctionCode();
    outcome.reply = QByteArray(reinterpret_cast<const char*>(reply.Bytes), received);
    if (received == 0) return outcome;
    const bool crcOk = CheckReplyCrc(reply.Bytes, received);
    if (crcOk && ReplyFitsRequest(request, reply.Bytes, received)) {
        const bool exception = IsExceptionReply(reply.Bytes[fpFunction]);
        outcome.kind = exception ? ReplyOutcome::Exception : ReplyOutcome::Valid;
        if (exception) outcome.exceptionCode = reply.Bytes[2];
    } else {
        outcome.kind = IsEchoOfRequest(request, reply.Bytes, received) ? ReplyOutcome::Echo
                       : crcOk                                         ? ReplyOutcome::Mismatch
                                                                       : ReplyOutcome::BadCrc;
    }
    return outcome;
}

TransactionOutcome TransactionEngine::SendRaw(const RequestFrame& request) {
    if (Busy())
        throw AppError(QStringLiteral("Łącze jest zajęte innym zadaniem; spróbuj po jego końcu."));
    if (!link_.isOpen()) throw AppError(QStringLiteral("brak połączenia !"));
    frontend_.SetTxText(HexText(request.Frame, request.Length));
    frontend_.SetRxText(QString());
    ReplyBuffer reply;
    link_.WriteFrame(request.Frame, request.Length, reply);
    link_.ReadReply(reply);
    TransactionOutcome outcome = JudgeReply(request, reply);
    if (!outcome.reply.isEmpty()) {
        frontend_.SetRxText(
            HexText(reinterpret_cast<const std::uint8_t*>(outcome.reply.constData()),
                    static_cast<std::uint16_t>(outcome.reply.size())));
        outcome.elapsedMs = link_.lastReplyMs;
    }
    // A reply that did not answer may be a late one: the next request then waits it out.
    if (outcome.kind != ReplyOutcome::Valid && outcome.kind != ReplyOutcome::Exception)
        link_.ExpectLateReply();
    lastOutcome_ = outcome;
    frontend_.TransactionEnded(outcome);
    return outcome;
}

void TransactionEngine::OnReply() {
    const bool decoded = DecodeReply(state_, tree_);
    if (decoded) {
        state_.LogValueText = state_.DecodedText;
        const QString line = TrimTrailingSpaces(
            OverlayText(PrintableText(state_.LogValueText), pendingLines_.last(), 17));
        pendingLines_.last() = line;
        if (purpose_ == RequestPurpose::Monitor && frontend_.MonitorChecked()) {
            const QString value = state_.CurrentRecord ? state_.CurrentRecord->Value : QString();
            frontend_.AppendLog(LogTimeText(QTime::currentTime()) + '\t' + PrintableText(value));
        } else {
            frontend_.AppendLog(line);
        }
        frontend_.StartRepaintTimer();
        if (IsWriteFunction(state_.frame.FunctionCode()) && requestNode_) {
            requestNode_->valueOrigin = ValueOrigin::Device; // the device took it
            tree_.NodeChanged(requestNode_);
        }
    }
    TransactionOutcome outcome = OutcomeOfAcceptedReply(decoded, state_.reply);
    outcome.node = requestNode_;
    Ended(outcome);
    const Answered answered{
        state_.frame.FunctionCode(), state_.LastReplyOk, requestNode_, outcome.kind, purpose_,
        outcome.exceptionCode};
    LetEventsRun();
    answered_ = answered;
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnCrcError() {
    state_.LastReplyOk = false;
    Ended({refusedBy_, 0, requestNode_});
    answered_ = {state_.frame.FunctionCode(), false, requestNode_, refusedBy_, purpose_};
    refusedBy_ = ReplyOutcome::BadCrc;
    Dispatch(MSG_NEXT);
}

// Only a walk's own read sends MSG_NO_REPLY, so that the walk goes on; any other request
// that gets no reply ends in Transact with its outcome given to the frontend.
void TransactionEngine::OnNoReply() {
    state_.LastReplyOk = false;
    state_.DecodedText.clear();
    answered_ = {state_.frame.FunctionCode(), false, requestNode_, ReplyOutcome::NoReply, purpose_};
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnNext() {
    if (continuation_ && continuation_->TakeNext()) return;
    if (state_.Walking) ContinueWalk();
}

// Only a read walk exists: a write or a diagnostic reply never moves a walk on, so nothing
// is ever written that the operator did not name. A register that fails is logged and passed
// by: an exception at once, a missing or damaged reply after a second try.
void TransactionEngine::ContinueWalk() {
    if (!IsReadFunction(answered_.function) || answered_.purpose != RequestPurpose::Walk) return;
    if (answered_.ok) {
        failuresInRow_ = 0;
        AdvanceWalk();
        return;
    }
    if (answered_.kind != ReplyOutcome::Exception && !retried_) {
        retried_ = true;
        LetEventsRun();       // the operator can still stop a register that keeps failing
        if (stopRequested_) { // and then it is not tried again: the walk ends
            Dispatch(MSG_NEXT);
            return;
        }
        ReadRegisterStep(state_.CurrentNode, RequestPurpose::Walk);
        return;
    }
    WalkPastFailedRegister();
}

void TransactionEngine::WalkPastFailedRegister() {
    ++walkFailed_;
    const RegisterNode& r = state_.CurrentNode->record;
    frontend_.AppendLog(TransactionLine(
        PrintableText(r.Address), PrintableText(r.Name),
        QStringLiteral("-- ") + ShortOutcomeText(answered_.kind, answered_.exceptionCode)));
    if (++failuresInRow_ >= kWalkRetryLimit) {
        AdvanceWalkNode();
        FinishWalk(LogWords::kStoppedFailuresInRow.toString().arg(kWalkRetryLimit), true);
        return;
    }
    LetEventsRun();
    AdvanceWalk();
}

void TransactionEngine::AdvanceWalkNode() {
    retried_ = false;
    state_.CurrentNode = NextRegisterInWalk(state_.CurrentNode, walkRoot_);
}

void TransactionEngine::AdvanceWalk() {
    AdvanceWalkNode();
    if (state_.CurrentNode)
        ReadRegisterStep(state_.CurrentNode, RequestPurpose::Walk);
    else
        FinishWalk(QString(), true);
}

int TransactionEngine::RegistersLeftInWalk() const {
    int left = 0;
    for (const TreeNode* n = state_.CurrentNode; n; n = NextRegisterInWalk(n, walkRoot_))
        ++left;
    return left;
}

void TransactionEngine::FinishWalk(const QString& why, bool announce) {
    lastWalkNotRead_ = walkFailed_ + RegistersLeftInWalk();
    if (announce) { // short lines: the log shows 28 characters
        if (!why.isEmpty()) frontend_.AppendLog(why);
        if (lastWalkNotRead_ > 0)
            frontend_.AppendLog(
                QStringLiteral("Nieodczytanych: %1 z %2").arg(lastWalkNotRead_).arg(walkTotal_));
    }
    state_.Walking = false;
    state_.CurrentNode = nullptr;
    walkRoot_ = nullptr;
    walkFrame_ = nullptr;
    failuresInRow_ = 0;
    retried_ = false;
}
