#include "operator.h"
#include "regmap/error.h"
#include "txn/logformat.h"
#include "txn/loglines.h"
#include "txn/logwords.h"
#include "txn/numbers.h"
#include <cmath>

CalibrationResult ComputeCalibration(const QStringList& samples) {
    CalibrationResult result;
    const auto n = static_cast<std::int32_t>(samples.size());
    if (n == 0) return result;
    QList<std::int32_t> values;
    // A signed 32-bit sum that starts at n div 2, so the division rounds halves upward.
    std::uint32_t sum = static_cast<std::uint32_t>(n / 2);
    for (const QString& s : samples) {
        values << ParseInteger(s);
        sum += static_cast<std::uint32_t>(values.last());
    }
    result.mean = static_cast<std::int32_t>(sum) / n;
    float squares = 0; // single precision, as the device's own tools compute it
    for (std::int32_t v : values) {
        const auto d = static_cast<std::int32_t>(static_cast<std::uint32_t>(v) -
                                                 static_cast<std::uint32_t>(result.mean));
        squares += static_cast<float>(static_cast<std::int32_t>(
            static_cast<std::uint32_t>(static_cast<std::int64_t>(d) * d)));
    }
    result.error = std::sqrt(squares) / static_cast<float>(n);
    return result;
}

QString FormatCalibrationError(float error) {
    const double value = error;
    if (std::fabs(value) >= 1e8) // too large for 8 significant digits in fixed point
        return QString::number(value, 'E', 7).replace('.', ',');
    const int integerDigits =
        std::fabs(value) < 1 ? 1 : static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    const int decimals = std::clamp(8 - integerDigits, 0, 3);
    QString text = FormatFixed(value, decimals);
    if (decimals < 3)
        text += (decimals == 0 ? QStringLiteral(",") : QString()) + QString(3 - decimals, '0');
    return text;
}

Calibration::Calibration(TransactionEngine& engine, RegisterTree& tree, Frontend& frontend)
    : engine_(engine), tree_(tree), frontend_(frontend) {}

bool Calibration::Start(const QString& range, const QString& countText) {
    frontend_.AppendLog(QString());
    frontend_.AppendLog(LogWords::kCalibration.toString() + range +
                        LogWords::kCalibrationRunning.toString());
    SampleList.clear();
    SampleTimes.clear();
    StopReason.clear();
    FailedSampleReads = 0;
    finished_ = false;
    Calibrating = true;
    SamplesLeft = ParseInteger(countText);
    const bool asked = SamplesLeft > 0;
    sampleNode_ = tree_.FindNodeByName(QStringLiteral("R0"));
    const bool linkWasOpen = engine_.LinkOpen();
    engine_.SetCurrentNode(sampleNode_);
    engine_.ReadRegister(sampleNode_);
    // The whole run has gone by now, unless a sample read got no reply. Then it ends here:
    // no later read, of whatever register, may complete it.
    if (!Calibrating) return finished_;
    const QString reason = WhyNotFinished(asked, linkWasOpen);
    Abandon();
    StopReason = reason;
    if (StopReason.startsWith(QLatin1String("brak odpowiedzi"))) FailedSampleReads = 1;
    frontend_.AppendLog(LogWords::kCalibrationStopped.toString());
    return false;
}

// What stopped a run that did not finish, as it happened.
QString Calibration::WhyNotFinished(bool asked, bool linkWasOpen) const {
    if (!sampleNode_) return QStringLiteral("brak rejestru R0");
    if (!asked) return QStringLiteral("licznik 0: nie zamówiono żadnej próbki");
    if (!linkWasOpen) return QStringLiteral("port zamknięty: nic nie wysłano");
    return QStringLiteral("brak odpowiedzi na odczyt próbki");
}

bool Calibration::TakeNext() {
    if (SamplesLeft <= 0 || !Calibrating) return false;
    if (engine_.AnsweredNode() != sampleNode_) return false; // another register's read
    SampleList << sampleNode_->record.Value;
    SampleTimes << QDateTime::currentDateTime();
    --SamplesLeft;
    if (SamplesLeft == 0) {
        Calibrating = false; // before the result, so a failure there leaves the tool idle
        finished_ = true;
        ShowCalibrationResult();
    } else {
        frontend_.Pause(kSamplePauseMs);
        engine_.ReadRegister(sampleNode_);
    }
    return true;
}

bool Calibration::Abandon() {
    const bool running = Calibrating;
    if (running) StopReason = QStringLiteral("przerwana przez operatora");
    Calibrating = false;
    SamplesLeft = 0;
    return running;
}

void Calibration::ShowCalibrationResult() {
    if (SampleList.isEmpty()) return;
    const CalibrationResult result = ComputeCalibration(SampleList);
    const QString mean = QString::number(result.mean);
    if (setResult) setResult(mean);
    frontend_.AppendLog(OverlayText(mean, LogWords::kMeanMark.toString(), 17));
    frontend_.AppendLog(
        OverlayText(FormatCalibrationError(result.error), LogWords::kErrorMark.toString(), 17));
    frontend_.AppendLog(QString());
}

QString StoreRegisterName(const QString& range) {
    if (range == QLatin1String("100R")) return QStringLiteral("N100");
    if (range == QLatin1String("400R")) return QStringLiteral("N400");
    return {};
}

TreeNode* Calibration::Store(const QString& range, const QString& valueText) {
    const QString name = StoreRegisterName(range);
    TreeNode* node = name.isEmpty() ? nullptr : tree_.FindNodeByName(name);
    if (!node) return nullptr;
    node->record.Value = valueText;
    engine_.WriteIfWritable(node);
    return node;
}

Monitor::Monitor(TransactionEngine& engine, Frontend& frontend)
    : engine_(engine), frontend_(frontend) {}

void Monitor::Click(bool ticked, const QString& periodText, const QString& registerLabel) {
    if (ParseInteger(periodText) < kMinimumPeriodMs) return;
    if (registerLabel.isEmpty()) return;
    if (ticked)
        Timer1.start(ParseInteger(periodText));
    else
        Timer1.stop();
    frontend_.AppendLog(QString());
    monitored_ = nullptr;
    if (!ticked) return;
    WriteHeader(engine_.CurrentNode(), engine_.CurrentRecord());
    ReadGuarded();
}

// The date and the register whose time-stamped values follow.
void Monitor::WriteHeader(TreeNode* node, const RegisterNode* r) {
    monitored_ = node;
    frontend_.AppendLog(LogDateText(QDate::currentDate()) + '\t' +
                        PrintableText(r ? r->Address : QStringView()) + '(' +
                        PrintableText(r ? r->Name : QStringView()) + ')');
}

void Monitor::Tick() {
    // Monitoring follows a click onto another register, whose values follow under a header of
    // their own; a click onto a group leaves it where it is.
    TreeNode* current = engine_.CurrentNode();
    if (current && current != monitored_ && TransactionEngine::NodeAccess(current) != acNone)
        WriteHeader(current, &current->record);
    if (engine_.LinkOpen()) {
        ReadGuarded();
        return;
    }
    // Without a port every tick would bring its box back: monitoring ends at the first.
    Stop();
    if (monitored_)
        engine_.MonitorRead(monitored_); // "brak połączenia !"
    else
        frontend_.ShowMessage(QStringLiteral("brak połączenia !"));
}

// A read that fails with an error would fail again at every tick, each with its box:
// monitoring ends at the first, and the one box says why.
void Monitor::ReadGuarded() {
    try {
        engine_.MonitorRead(monitored_);
    } catch (const AppError&) {
        Stop();
        throw;
    }
}

void Monitor::Stop() {
    Timer1.stop();
    if (onStopped) onStopped();
    frontend_.AppendLog(QStringLiteral("monitorowanie wyłączone"));
}

void SendReset(TransactionEngine& engine) {
    engine.SendDiagnostic(LogWords::kReset.toString(), QStringLiteral("$0001"),
                          QStringLiteral("$FF00"));
}
