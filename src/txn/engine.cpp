#include "engine.h"
#include "builders.h"
#include "codec.h"
#include "logformat.h"
#include "loglines.h"
#include "logwords.h"

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
        if (state.Walking && walkFrame_ == &frame)
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
            if (state.Walking) { // the operator gave the walk up: clicks work again
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
    state.CurrentNode = nullptr;
    state.CurrentRecord = nullptr;
    state.HighlightNode = nullptr;
    state.Walking = false;
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
    state.TxText.clear();
    state.LogAddressText.clear();
    state.LogNameText.clear();
    state.LogValueText.clear();
}

// A group is read register by register in tree order, its sub-groups' registers included.
void TransactionEngine::ReadFromNode(TreeNode* node) {
    Entry([&] {
        if (!node) return;
        lastWalkNotRead_ = 0;
        if (NodeAccess(node) != acNone) {
            state.CurrentNode = node;
            ReadRegisterStep(node);
            return;
        }
        state.CurrentNode = NextRegisterInWalk(node, node);
        if (!state.CurrentNode) return;
        state.Walking = true;
        walkRoot_ = node;
        walkFrame_ = frames_.back();
        walkTotal_ = RegistersLeftInWalk();
        walkFailed_ = 0;
        failuresInRow_ = 0;
        retried_ = false;
        ReadRegisterStep(state.CurrentNode, RequestPurpose::Walk);
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
    state.CurrentRecord = &node->record;
    state.CurrentRecord->Value.clear();
    node->valueOrigin = ValueOrigin::Device; // empty until the reply says otherwise
    tree_.NodeChanged(node); // an empty cell, not the old value, until the reply comes
    ClearTransactionTexts();
    state.LogNameText = node->record.Name;
    state.LogAddressText = node->record.Address;
    state.frame = BuildReadRequest(node->record, frontend_.SlaveText());
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
        state.frame = BuildWriteSingleRequest(r, frontend_.SlaveText());
        state.PendingWriteText = r.Value;
    } else {
        WriteRequest request = BuildWriteMultipleRequest(r, frontend_.SlaveText());
        state.frame = request.frame;
        state.PendingWriteText = request.sentText;
    }
    state.LogAddressText = r.Address;
    state.LogNameText = r.Name + ':';
    state.LogValueText = state.PendingWriteText; // the value as the request carries it
    requestNode_ = node;
    purpose_ = RequestPurpose::Operator;
    Transact();
}

void TransactionEngine::WriteCurrent() {
    Entry([&] {
        if (state.CurrentNode && NodeAccess(state.CurrentNode) != acNone)
            WriteRegisterStep(state.CurrentNode);
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
    state.CurrentNode = node;
    state.CurrentRecord = node ? &node->record : nullptr;
}

void TransactionEngine::SendDiagnostic(const QString& logName, const QString& subFunction,
                                       const QString& data) {
    Entry([&] {
        // Its own log texts, so its line never repeats the last register's.
        ClearTransactionTexts();
        state.LogNameText = logName;
        const auto frame = BuildDiagnosticRequest(frontend_.SlaveText(), subFunction, data);
        if (!frame) return;
        state.frame = *frame;
        requestNode_ = nullptr;
        purpose_ = RequestPurpose::Operator;
        Transact();
    });
}

void TransactionEngine::Transact() {
    Entry([&] {
        state.LastReplyOk = false; // until this request's own reply says otherwise
        if (!link_.isOpen()) {
            ShowModal(QStringLiteral("brak połączenia !"));
            if (purpose_ == RequestPurpose::Walk && state.Walking)
                FinishWalk(LogWords::kStoppedNoConnection.toString(), true);
            return;
        }
        RequestFrame& frame = state.frame;
        state.TxText = HexText(frame.Frame, frame.Length);
        // Texts of the device file and of replies never bring control characters into a line.
        const QString line =
            TransactionLine(PrintableText(state.LogAddressText), PrintableText(state.LogNameText),
                            PrintableText(state.LogValueText));
        frontend_.SetTxText(state.TxText);
        frontend_.SetRxText(QString());
        PendingLines = QStringList{line};
        link_.WriteFrame(frame.Frame, frame.Length, state.reply);
        link_.ReadReply(state.reply);
        const auto received =
            static_cast<std::uint16_t>(std::min<std::uint32_t>(state.reply.BytesRead, kReplySize));
        if (received == 0) {
            link_.ExpectLateReply();
            Ended({ReplyOutcome::NoReply, 0, requestNode_});
            // A walk goes on past a register that does not answer; anything else ends here.
            if (purpose_ == RequestPurpose::Walk) Dispatch(MSG_NO_REPLY);
            return;
        }
        frontend_.SetRxText(HexText(state.reply.Bytes, received));
        const bool crcOk = CheckReplyCrc(state.reply.Bytes, received);
        if (crcOk && ReplyFitsRequest(frame, state.reply.Bytes, received)) {
            Dispatch(MSG_REPLY);
            return;
        }
        // Not the answer to this request, perhaps a late one to an earlier request: it is
        // handled as a damaged reply, and the real answer may still come.
        link_.ExpectLateReply();
        refusedBy_ = IsEchoOfRequest(frame, state.reply.Bytes, received) ? ReplyOutcome::Echo
                     : crcOk                                             ? ReplyOutcome::Mismatch
                                                                         : ReplyOutcome::BadCrc;
        Dispatch(MSG_CRC_ERROR);
    });
}

// Every request's end, with its function and the time its reply took.
void TransactionEngine::Ended(TransactionOutcome outcome) {
    outcome.function = state.frame.FunctionCode();
    if (outcome.kind != ReplyOutcome::NoReply) outcome.elapsedMs = link_.lastReplyMs;
    frontend_.TransactionEnded(outcome);
}

void TransactionEngine::OnReply() {
    const bool decoded = DecodeReply(state, tree_);
    if (decoded) {
        state.LogValueText = state.DecodedText;
        const QString line = TrimTrailingSpaces(
            OverlayText(PrintableText(state.LogValueText), PendingLines.last(), 17));
        PendingLines.last() = line;
        if (purpose_ == RequestPurpose::Monitor && frontend_.MonitorChecked()) {
            const QString value = state.CurrentRecord ? state.CurrentRecord->Value : QString();
            frontend_.AppendLog(LogTimeText(QTime::currentTime()) + '\t' + PrintableText(value));
        } else {
            frontend_.AppendLog(line);
        }
        frontend_.StartRepaintTimer();
        if (IsWriteFunction(state.frame.FunctionCode()) && requestNode_) {
            requestNode_->valueOrigin = ValueOrigin::Device; // the device took it
            tree_.NodeChanged(requestNode_);
        }
    }
    TransactionOutcome outcome = OutcomeOfAcceptedReply(decoded, state.reply);
    outcome.node = requestNode_;
    Ended(outcome);
    const Answered answered{
        state.frame.FunctionCode(), state.LastReplyOk, requestNode_, outcome.kind, purpose_,
        outcome.exceptionCode};
    LetEventsRun();
    answered_ = answered;
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnCrcError() {
    state.LastReplyOk = false;
    Ended({refusedBy_, 0, requestNode_});
    answered_ = {state.frame.FunctionCode(), false, requestNode_, refusedBy_, purpose_};
    refusedBy_ = ReplyOutcome::BadCrc;
    Dispatch(MSG_NEXT);
}

// Only a walk's own read sends MSG_NO_REPLY, so that the walk goes on; any other request
// that gets no reply ends in Transact with its outcome given to the frontend.
void TransactionEngine::OnNoReply() {
    state.LastReplyOk = false;
    state.DecodedText.clear();
    answered_ = {state.frame.FunctionCode(), false, requestNode_, ReplyOutcome::NoReply, purpose_};
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnNext() {
    if (continuation_ && continuation_->TakeNext()) return;
    if (state.Walking) ContinueWalk();
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
        ReadRegisterStep(state.CurrentNode, RequestPurpose::Walk);
        return;
    }
    WalkPastFailedRegister();
}

void TransactionEngine::WalkPastFailedRegister() {
    ++walkFailed_;
    const RegisterNode& r = state.CurrentNode->record;
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
    state.CurrentNode = NextRegisterInWalk(state.CurrentNode, walkRoot_);
}

void TransactionEngine::AdvanceWalk() {
    AdvanceWalkNode();
    if (state.CurrentNode)
        ReadRegisterStep(state.CurrentNode, RequestPurpose::Walk);
    else
        FinishWalk(QString(), true);
}

int TransactionEngine::RegistersLeftInWalk() const {
    int left = 0;
    for (const TreeNode* n = state.CurrentNode; n; n = NextRegisterInWalk(n, walkRoot_))
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
    state.Walking = false;
    state.CurrentNode = nullptr;
    walkRoot_ = nullptr;
    walkFrame_ = nullptr;
    failuresInRow_ = 0;
    retried_ = false;
}
