#include "engine.h"
#include "builders.h"
#include "codec.h"
#include "logformat.h"
#include "loglines.h"

namespace {
bool IsRead(std::uint8_t function) {
    return function == 3 || function == 4;
}
bool IsWrite(std::uint8_t function) {
    return function == 6 || function == 16;
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
    if (frames_.empty()) stopRequested_ = false;
    JobFrame frame;
    frames_.push_back(&frame);
    struct Pop {
        TransactionEngine* engine;
        ~Pop() {
            engine->frames_.pop_back();
            if (engine->frames_.empty() && engine->onIdle) engine->onIdle();
        }
    } pop{this};
    body();
    RunPending(frame);
}

void TransactionEngine::RunPending(JobFrame& frame) {
    while (frame.pending != 0) {
        const CycleMessage message = frame.pending;
        frame.pending = CycleMessage(0);
        if (message == MSG_NEXT && stopRequested_) {
            if (continuation_) continuation_->Abandon();
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

void TransactionEngine::RequestStop() {
    if (Busy()) stopRequested_ = true;
}

void TransactionEngine::ForgetNodes() {
    state.CurrentNode = nullptr;
    state.CurrentRecord = nullptr;
    state.HighlightNode = nullptr;
    state.Walking = false;
    failuresInRow_ = 0;
}

int TransactionEngine::NodeAccess(const TreeNode* node) {
    return node ? AccessCodeOf(node->record.Access()) : -1;
}

void TransactionEngine::ClearTransactionTexts() {
    state.TxText.clear();
    state.LogAddressText.clear();
    state.LogNameText.clear();
    state.LogValueText.clear();
}

bool TransactionEngine::AdvanceToSibling() {
    state.CurrentNode = RegisterTree::NextSibling(state.CurrentNode);
    return state.CurrentNode != nullptr;
}

void TransactionEngine::ReadFromNode(TreeNode* node) {
    Entry([&] {
        if (!node) return;
        if (NodeAccess(node) != acNone) {
            state.CurrentNode = node;
        } else {
            state.CurrentNode = RegisterTree::FirstChild(node);
            if (!state.CurrentNode) return;
            state.Walking = true;
        }
        ReadRegisterStep(state.CurrentNode);
    });
}

void TransactionEngine::ReadRegister(TreeNode* node) {
    Entry([&] { ReadRegisterStep(node); });
}

void TransactionEngine::ReadRegisterStep(TreeNode* node) {
    if (!node) return;
    state.CurrentRecord = &node->record;
    state.CurrentRecord->setValue({});
    ClearTransactionTexts();
    state.LogNameText = node->record.Name().toString();
    state.LogAddressText = node->record.Address().toString();
    BuildReadRequest(state, node->record, frontend_.SlaveText());
    Transact();
}

void TransactionEngine::WriteRegister(TreeNode* node) {
    Entry([&] { WriteRegisterStep(node); });
}

void TransactionEngine::WriteRegisterStep(TreeNode* node) {
    const int access = NodeAccess(node);
    if (access != acRW && access != acRP) return;
    const RegisterNode& r = node->record;
    state.frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(r.Type()));
    state.PendingWriteText = r.Value().toString();
    if (ParseInteger(r.Count()) == 1)
        BuildWriteSingleRequest(state, r, frontend_.SlaveText());
    else
        BuildWriteMultipleRequest(state, r, frontend_.SlaveText());
    state.LogAddressText = r.Address().toString();
    state.LogNameText = r.Name().toString() + ':';
    state.LogValueText = r.Value().toString();
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
    state.frame.ValueType = static_cast<std::uint8_t>(TypeCodeOf(node->record.Type()));
    if (state.frame.ValueType != tcNone) WriteRegisterStep(node);
}

void TransactionEngine::SendDiagnostic(const QString& subFunction, const QString& data) {
    Entry([&] {
        if (BuildDiagnosticRequest(state, frontend_.SlaveText(), subFunction, data)) Transact();
    });
}

void TransactionEngine::Transact() {
    Entry([&] {
        if (!link_.isOpen()) {
            ShowModal(QStringLiteral("brak połączenia !"));
            return;
        }
        RequestFrame& frame = state.frame;
        state.TxText = HexText(frame.Frame, frame.Length);
        const QString line =
            TransactionLine(state.LogAddressText, state.LogNameText, state.LogValueText);
        frontend_.SetTxText(state.TxText);
        frontend_.SetRxText(QString());
        PendingLines = QStringList{line};
        link_.WriteFrame(frame.Frame, frame.Length, state.reply);
        link_.ReadReply(state.reply);
        const auto received =
            static_cast<std::uint16_t>(std::min<std::uint32_t>(state.reply.BytesRead, kReplySize));
        if (received == 0) return;
        frontend_.SetRxText(HexText(state.reply.Bytes, received));
        Dispatch(CheckReplyCrc(state.reply.Bytes, received) ? MSG_REPLY : MSG_CRC_ERROR);
    });
}

void TransactionEngine::OnReply() {
    if (DecodeReply(state, tree_)) {
        state.LogValueText = state.DecodedText;
        const QString line =
            TrimTrailingSpaces(OverlayText(state.LogValueText, PendingLines.last(), 17));
        PendingLines.last() = line;
        if (frontend_.MonitorChecked()) {
            const QString value =
                state.CurrentRecord ? state.CurrentRecord->Value().toString() : QString();
            frontend_.AppendLog(LogTimeText(QTime::currentTime()) + '\t' + value);
        } else {
            frontend_.AppendLog(line);
        }
        frontend_.StartRepaintTimer();
    }
    LetEventsRun();
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnCrcError() {
    state.LastReplyOk = false;
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnNoReply() {
    state.LastReplyOk = false;
    state.DecodedText.clear();
    Dispatch(MSG_NEXT);
}

void TransactionEngine::OnNext() {
    if (continuation_ && continuation_->TakeNext()) return;
    if (state.Walking) ContinueWalk();
}

void TransactionEngine::ContinueWalk() {
    const std::uint8_t function = state.frame.FunctionCode();
    if (IsRead(function)) {
        if (state.LastReplyOk) {
            failuresInRow_ = 0;
            state.Walking = AdvanceToSibling();
        } else if (++failuresInRow_ >= kWalkRetryLimit) {
            failuresInRow_ = 0;
            const RegisterNode* r = state.CurrentNode ? &state.CurrentNode->record : nullptr;
            frontend_.AppendLog(QStringLiteral("Odczyt zatrzymany na rejestrze %1 (%2): %3 "
                                               "błędnych odpowiedzi z rzędu")
                                    .arg(r ? r->Address() : QString(), r ? r->Name() : QString())
                                    .arg(kWalkRetryLimit));
            return;
        } else {
            LetEventsRun(); // the operator can still stop a register that keeps failing
        }
        if (state.Walking) ReadRegisterStep(state.CurrentNode);
    } else if (IsWrite(function)) {
        state.Walking = AdvanceToSibling();
        if (state.Walking) WriteIfWritableStep(state.CurrentNode);
    }
}
