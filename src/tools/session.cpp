#include "session.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QCryptographicHash>

OperatorSession::OperatorSession(ModbusLink& link, Frontend& frontend)
    : relay_(*this, frontend), engine_(tree_, link, relay_), calibration_(engine_, tree_, relay_),
      monitor_(engine_, relay_) {
    engine_.setContinuation(&calibration_);
}

void OperatorSession::Relay::TransactionEnded(const TransactionOutcome& outcome) {
    session_.last_ = outcome;
    ++session_.ended_;
    session_.stats_.Ended(outcome);
    frontend_.TransactionEnded(outcome);
}

void OperatorSession::LoadDevice(const QString& name, const QByteArray& bytes) {
    engine_.ForgetNodes();
    monitor_.ForgetNodes();
    // Named first: a file that fails part way leaves in the tree what was read of these bytes.
    deviceName_ = name;
    deviceSha256_ =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    ReadDeviceFile(bytes, tree_);
}

void OperatorSession::PortOpened(const LineContext& line) {
    line_ = line;
    stats_ = {};
    serialNumbers_.clear(); // another port, perhaps other devices
}

void OperatorSession::NoteSerialNumber(const QString& slave, const QString& serialNumber) {
    serialNumbers_.insert(slave, serialNumber);
}

bool OperatorSession::Calibrate(const QString& range, const QString& countText) {
    record_ = NewRecord(range, countText);
    bool finished = false;
    try {
        finished = calibration_.Start(range, countText);
    } catch (const AppError& error) {
        FinishRecord(false, error.message()); // the failure is on record too
        throw;
    }
    FinishRecord(finished, calibration_.StopReason);
    return finished;
}

bool OperatorSession::StoreFollowsRun(const QString& range) const {
    return recordOfAFinishedRun_ && record_.range == range;
}

const TreeNode* OperatorSession::Store(const QString& range, const QString& valueText) {
    last_ = {};
    const TreeNode* written = calibration_.Store(range, valueText);
    const bool intoRun = StoreFollowsRun(range) && !record_.stored;
    if (!intoRun) {
        record_ = NewRecord(range, QStringLiteral("0"));
        record_.end = record_.start;
        record_.stopReason = QStringLiteral("zapis bez kalibracji w tym uruchomieniu");
        recordOfAFinishedRun_ = false;
    }
    CalibrationRecord& r = record_;
    r.stored = true;
    r.storeTime = QDateTime::currentDateTime();
    r.storeValue = valueText;
    r.storeRegister = written ? written->record.Name : QStringLiteral("(brak)");
    r.storeAddress = written ? written->record.Address : QString();
    r.storeOutcome =
        written && last_.node == written ? OutcomeText(last_) : QStringLiteral("nie wysłano");
    RecordChanged(!intoRun);
    return written;
}

CalibrationRecord OperatorSession::NewRecord(const QString& range, const QString& countText) const {
    CalibrationRecord r;
    r.start = QDateTime::currentDateTime();
    r.programVersion = QStringLiteral(VARDEL_VERSION);
    r.deviceFile = deviceName_;
    r.deviceSha256 = deviceSha256_;
    r.portPath = line_.portPath;
    r.lineSettings = line_.lineSettings;
    r.slave = relay_.SlaveText();
    r.serialNumber = SerialNumberOf(r.slave);
    r.range = range;
    if (const TreeNode* r0 = tree_.FindNodeByName(QStringLiteral("R0"))) {
        r.registerName = r0->record.Name;
        r.registerAddress = r0->record.Address;
    }
    bool ok = false;
    r.asked = countText.toLongLong(&ok);
    return r;
}

void OperatorSession::FinishRecord(bool finished, const QString& reason) {
    CalibrationRecord& r = record_;
    r.end = QDateTime::currentDateTime();
    r.samples = calibration_.SampleList;
    r.failedReads = calibration_.FailedSampleReads;
    r.sampleTimes = calibration_.SampleTimes;
    r.finished = finished;
    r.stopReason = reason;
    if (finished) {
        const CalibrationResult result = ComputeCalibration(r.samples);
        r.meanText = QString::number(result.mean);
        r.errorText = FormatCalibrationError(result.error);
    }
    recordOfAFinishedRun_ = finished;
    RecordChanged(true);
}

void OperatorSession::RecordChanged(bool fresh) {
    if (onRecord) onRecord(record_, fresh);
}
