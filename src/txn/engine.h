#pragma once
// The transaction cycle: every register read and write from the operator's action to the
// updated tree and the log line. It knows no widgets: the window, the console and the tests
// reach it through Frontend, and the port through ModbusLink.
#include "link/link.h"
#include "outcome.h"
#include "state.h"
#include <QStringList>
#include <functional>
#include <vector>

// The continuation messages; each is handled in order, never queued behind other events.
enum CycleMessage : int {
    MSG_NEXT = 1025,
    MSG_REPLY = 1026,
    MSG_NO_REPLY = 1027, // a walk's own read that got no reply: the walk goes on
    MSG_CRC_ERROR = 1029
};

class Frontend {
public:
    virtual ~Frontend() = default;
    virtual void ShowMessage(const QString& text) = 0; // modal
    virtual void ProcessEvents() = 0;                  // let waiting events run
    virtual void SetTxText(const QString& text) = 0;
    virtual void SetRxText(const QString& text) = 0;
    virtual void AppendLog(const QString& line) = 0;
    virtual bool MonitorChecked() const = 0;
    virtual void StartRepaintTimer() = 0;
    virtual void Pause(int milliseconds) = 0;
    virtual QString SlaveText() const = 0;
    // Every request that went out ends here once, with how it ended.
    virtual void TransactionEnded(const TransactionOutcome& outcome) = 0;
};

// Asked first on every MSG_NEXT; takes the message when a run of its own is active.
class Continuation {
public:
    virtual ~Continuation() = default;
    virtual bool TakeNext() = 0;
    // The operator stopped the job: the run ends without a result. True when a run was going.
    virtual bool Abandon() = 0;
};

// Registers in a row that a walk could not read, after which it gives up.
constexpr int kWalkRetryLimit = 10;

// Why a request was sent: only the monitor's own reads give monitor lines, and only a walk's
// own reads move the walk on.
enum class RequestPurpose { Operator, Walk, Monitor };

// How a reply ended for its request, judged as every reply is and before any decoding:
// NoReply for none, Valid or Exception for one that answers it, else Echo, Mismatch or
// BadCrc; with the reply's bytes.
TransactionOutcome JudgeReply(const RequestFrame& request, const ReplyBuffer& reply);

class TransactionEngine {
public:
    TransactionEngine(RegisterTree& tree, ModbusLink& link, Frontend& frontend);

    void setContinuation(Continuation* continuation) { continuation_ = continuation; }
    // Called whenever the outermost job has returned.
    std::function<void()> onIdle;

    // What the frontends and tools change of the transaction state, as intents.
    // A click on a register: reads, writes and monitoring act on it from now on.
    void MakeCurrent(TreeNode* node);
    // Points reads and writes at a register, leaving whose Value monitoring shows (a checked
    // option's register, the calibration's R0).
    void SetCurrentNode(TreeNode* node) { state_.CurrentNode = node; }
    // Paints the node's value red until the repaint timer ends it with none.
    void Highlight(TreeNode* node) { state_.HighlightNode = node; }
    // No walk is running: clicks make registers current.
    void EndWalk() { state_.Walking = false; }

    // What the frontends and tools read of it.
    bool Walking() const { return state_.Walking; }
    TreeNode* CurrentNode() const { return state_.CurrentNode; }
    // The record the last read or write was of; none before any.
    const RegisterNode* CurrentRecord() const { return state_.CurrentRecord; }
    const TreeNode* HighlightNode() const { return state_.HighlightNode; }
    // The last request's own reply was valid and decoded.
    bool LastReplyOk() const { return state_.LastReplyOk; }
    // A REAL, PREC or FLOAT read's value in full, before the text rounds it; NaN otherwise.
    float DecodedReal() const { return state_.DecodedReal; }
    // How the last request ended, with its reply's bytes.
    const TransactionOutcome& LastOutcome() const { return lastOutcome_; }
    // The line of the transaction in progress; earlier lines are never read again.
    const QStringList& PendingLines() const { return pendingLines_; }
    // The whole transaction state, read only: for the checks of the frame area.
    const TxnState& state() const { return state_; }
    // Registers of the last finished walk that were not read: failed, or left when it ended.
    int LastWalkNotRead() const { return lastWalkNotRead_; }

    static int NodeAccess(const TreeNode* node);
    void ReadFromNode(TreeNode* node);
    void ReadRegister(TreeNode* node);
    // A monitor read of the register: its valid reply is logged as a time-stamped line.
    void MonitorRead(TreeNode* node);
    void WriteRegister(TreeNode* node);
    void WriteCurrent();
    void WriteIfWritable(TreeNode* node);
    // Builds the diagnostics request and sends it, its log line naming it; slave 0 sends
    // nothing.
    void SendDiagnostic(const QString& logName, const QString& subFunction, const QString& data);

    // A request for what has no register in the tree (the device's identification): sent
    // and its reply checked as every request's, shown, and ended at the frontend; the outcome
    // carries the reply's bytes. Throws AppError while a job runs or with the port closed.
    TransactionOutcome SendRaw(const RequestFrame& request);

    bool LinkOpen() const { return link_.isOpen(); }
    // The register of the request whose reply the current MSG_NEXT continues from; none for
    // a diagnostic.
    const TreeNode* AnsweredNode() const { return answered_.node; }

    // A job is running (possibly waiting in a modal box or in the events it lets run).
    bool Busy() const { return !frames_.empty(); }
    // Ends every running job after its current request; a walk or run that it ends says so in
    // the log when announced.
    void RequestStop(bool announce = true);
    // Forgets every node reference; called before the tree is replaced.
    void ForgetNodes();

private:
    // Each job entered from outside runs its continuations from this frame's loop, so the
    // stack does not grow with the length of a walk or a calibration run.
    struct JobFrame {
        CycleMessage pending = CycleMessage(0);
        bool eventsRunning = false;
    };
    void ClearTransactionTexts();
    // Sends the frame and reads its reply, then dispatches how it ended.
    void Transact();
    void OnNext();
    void OnReply();
    void OnNoReply();
    void OnCrcError();
    void Dispatch(CycleMessage message);
    void Ended(TransactionOutcome outcome);
    template <typename F> void Entry(F&& body);
    void RunPending(JobFrame& frame);
    void Handle(CycleMessage message);
    template <typename F> void WithEventsRunning(F&& call);
    void LetEventsRun();
    void ShowModal(const QString& text);
    void ReadRegisterStep(TreeNode* node, RequestPurpose purpose = RequestPurpose::Operator);
    void WriteRegisterStep(TreeNode* node);
    void WriteIfWritableStep(TreeNode* node);
    void ContinueWalk();
    void WalkPastFailedRegister();
    void AdvanceWalkNode();
    void AdvanceWalk();
    // Ends and clears the walk; when announced, with a short line saying why (none when it
    // reached its end) and one counting its registers not read, if any.
    void FinishWalk(const QString& why, bool announce);
    // The walk's registers from the current one to its end.
    int RegistersLeftInWalk() const;

    TxnState state_;
    QStringList pendingLines_;
    TransactionOutcome lastOutcome_;
    QByteArray replyBytes_; // the last reply before decoding
    RegisterTree& tree_;
    ModbusLink& link_;
    Frontend& frontend_;
    Continuation* continuation_ = nullptr;
    std::vector<JobFrame*> frames_;
    bool stopRequested_ = false;
    bool announceStop_ = true;
    // The walk: the group it reads, its registers that failed (in a row, and in all) and
    // whether the current register has had its second try.
    TreeNode* walkRoot_ = nullptr;
    JobFrame* walkFrame_ = nullptr;
    int walkTotal_ = 0;
    int lastWalkNotRead_ = 0;
    int failuresInRow_ = 0;
    int walkFailed_ = 0;
    bool retried_ = false;
    RequestPurpose purpose_ = RequestPurpose::Operator;
    // Why the reply now going to OnCrcError was refused.
    ReplyOutcome refusedBy_ = ReplyOutcome::BadCrc;
    // The request that OnNext continues from and whether its reply was valid, taken before
    // OnReply lets events run, so a nested transaction cannot stand in for it.
    struct Answered {
        std::uint8_t function = 0;
        bool ok = false;
        const TreeNode* node = nullptr;
        ReplyOutcome kind = ReplyOutcome::NoReply;
        RequestPurpose purpose = RequestPurpose::Operator;
        std::uint8_t exceptionCode = 0;
    } answered_;
    // The register that the request in the frame reads or writes.
    TreeNode* requestNode_ = nullptr;
};
