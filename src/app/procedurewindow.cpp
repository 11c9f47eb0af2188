#include "procedurewindow.h"
#include "guarded.h"
#include "standardsdialog.h"
#include "txn/numbers.h"
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace {

// A number as the operator types it: decimal comma or point; none for anything else.
std::optional<double> TypedNumber(QString text) {
    text = text.trimmed().replace(',', '.');
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    return v;
}

QString Shortest(double v) {
    return QLocale::c().toString(v, 'g', 12).replace('.', ',');
}

QLineEdit* Field(const char* name, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QPushButton* Button(const char* name, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

const ProcedureRange* RangeOf(const Procedure& procedure, const QString& name) {
    for (const ProcedureRange& r : procedure.ranges)
        if (r.name == name) return &r;
    return nullptr;
}

// A question in a box of its own, "Tak" or "Nie", the default given.
bool Ask(QWidget* parent, const char* name, const QString& text, bool yesByDefault) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Procedura kalibracji"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setObjectName(QLatin1String(name));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Tak"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nie"));
    box.setDefaultButton(yesByDefault ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

ProcedureWindow::ProcedureWindow(TransactionEngine& engine, RegisterTree& tree, Setup setup,
                                 QWidget* parent)
    : QDialog(parent), engine_(engine), tree_(tree), setup_(std::move(setup)) {
    setObjectName(QStringLiteral("ProcedureWindow"));
    setWindowTitle(QStringLiteral("Procedura kalibracji – ") + setup_.procedure.title);
    standards_ = ReadStandardsFile(setup_.standardsFile);
    auto* layout = new QVBoxLayout(this);
    BuildSetup(this);

    auto* point = new QGroupBox(QStringLiteral("Punkt"), this);
    lbInstruction = new QLabel(QStringLiteral("Uzupełnij nastawy i naciśnij Start."), point);
    lbInstruction->setObjectName(QStringLiteral("lbInstruction"));
    QFont bold = lbInstruction->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    lbInstruction->setFont(bold);
    lbLive = new QLabel(QStringLiteral("—"), point);
    lbLive->setObjectName(QStringLiteral("lbLive"));
    lbLive->setMinimumWidth(160);
    lbStability = new QLabel(point);
    lbStability->setObjectName(QStringLiteral("lbStability"));
    lbStability->setMinimumWidth(140);
    lbStability->setAlignment(Qt::AlignCenter);
    eReference = Field("eReference", point);
    btMeasure = Button("btMeasure", QStringLiteral("Pomiar"), point);
    connect(eReference, &QLineEdit::returnPressed, btMeasure, &QPushButton::click);
    connect(btMeasure, &QPushButton::clicked, this, [this] {
        const std::optional<double> v = TypedNumber(eReference->text());
        if (!v) {
            lbStatus->setText(QStringLiteral("\"%1\" nie jest liczbą").arg(eReference->text()));
            return;
        }
        if (answer_) answer_(v);
    });
    auto* pointRow = new QHBoxLayout;
    pointRow->addWidget(new QLabel(QStringLiteral("Odczyt:"), point));
    pointRow->addWidget(lbLive);
    pointRow->addWidget(lbStability);
    pointRow->addStretch();
    pointRow->addWidget(new QLabel(QStringLiteral("Wartość wzorca:"), point));
    pointRow->addWidget(eReference);
    pointRow->addWidget(btMeasure);
    auto* pointLayout = new QVBoxLayout(point);
    pointLayout->addWidget(lbInstruction);
    pointLayout->addLayout(pointRow);

    tblResults = new QTableWidget(0, 10, this);
    tblResults->setObjectName(QStringLiteral("tblResults"));
    tblResults->setHorizontalHeaderLabels(
        {QStringLiteral("Etap"), QStringLiteral("Punkt"), QStringLiteral("Nominalna"),
         QStringLiteral("Wzorzec"), QStringLiteral("Odczyt"), QStringLiteral("Błąd"),
         QStringLiteral("Błąd % zakresu"), QStringLiteral("Tolerancja"), QStringLiteral("U (k=2)"),
         QStringLiteral("Werdykt")});
    tblResults->verticalHeader()->hide();
    tblResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblResults->horizontalHeader()->setStretchLastSection(true);

    lbStatus = new QLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    lbStatus->setWordWrap(true);
    lbResult = new QLabel(this);
    lbResult->setObjectName(QStringLiteral("lbResult"));
    lbResult->setFont(bold);
    lbResult->setWordWrap(true);
    lbResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btStart = Button("btStart", QStringLiteral("Start"), this);
    btStop = Button("btStop", QStringLiteral("Przerwij"), this);
    btClose = Button("btClose", QStringLiteral("Zamknij"), this);
    connect(btStart, &QPushButton::clicked, this, [this] {
        RunGuarded([this] { Start(); },
                   [this](const QString& text) {
                       QMessageBox::critical(this, QStringLiteral("Procedura kalibracji"), text);
                   });
    });
    connect(btStop, &QPushButton::clicked, this, [this] {
        stopRequested_ = true;
        if (answer_) answer_(std::nullopt);
    });
    connect(btClose, &QPushButton::clicked, this, &ProcedureWindow::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lbStatus, 1);
    buttons->addWidget(btStart);
    buttons->addWidget(btStop);
    buttons->addWidget(btClose);

    layout->addWidget(point);
    layout->addWidget(tblResults, 1);
    layout->addWidget(lbResult);
    layout->addLayout(buttons);
    liveTimer_ = new QTimer(this);
    liveTimer_->setInterval(500);
    connect(liveTimer_, &QTimer::timeout, this, &ProcedureWindow::ReadLive);
    SetRunning(false);
    tblResults->setMinimumHeight(tblResults->verticalHeader()->defaultSectionSize() * 7 + 4);
    resize(940, 760);
}

ProcedureWindow::~ProcedureWindow() = default;

QString ProcedureWindow::ItemText() const {
    const CertificateHeader& h = setup_.header;
    auto orNot = [](const QString& v) { return v.isEmpty() ? QStringLiteral("nie odczytano") : v; };
    return QStringLiteral("Urządzenie: %1, adres %2, port %3 (%4), numer seryjny: %5, "
                          "oprogramowanie: %6\nProcedura: %7")
        .arg(h.deviceFile, h.slave, h.port, h.line, orNot(h.serialNumber), orNot(h.firmware),
             QDir::toNativeSeparators(setup_.procedureFile));
}

// The serial number and firmware for the record, read once before the first run; a device
// that does not say them leaves "nie odczytano".
void ProcedureWindow::IdentifyDevice() {
    if (!setup_.identify || !setup_.header.serialNumber.isEmpty()) return;
    const DeviceIdentity identity = setup_.identify();
    setup_.identify = nullptr;
    setup_.header.serialNumber = identity.serialNumber;
    setup_.header.firmware =
        !identity.firmware.isEmpty() ? identity.firmware : identity.Object(0x02); // revision
    lbItem->setText(ItemText());
}

void ProcedureWindow::BuildSetup(QWidget* parent) {
    auto* group = new QGroupBox(QStringLiteral("Nastawy"), parent);
    eOperator = Field("eOperator", group);
    eChecker = Field("eChecker", group);
    eCustomer = Field("eCustomer", group);
    ePlace = Field("ePlace", group);
    eTemperature = Field("eTemperature", group);
    eHumidity = Field("eHumidity", group);
    auto* form = new QGridLayout(group);
    const std::pair<const char*, QLineEdit*> fields[] = {{"Wykonał:", eOperator},
                                                         {"Sprawdził:", eChecker},
                                                         {"Zleceniodawca:", eCustomer},
                                                         {"Miejsce:", ePlace},
                                                         {"Temperatura [°C]:", eTemperature},
                                                         {"Wilgotność [%]:", eHumidity}};
    for (int i = 0; i < 6; ++i) {
        form->addWidget(new QLabel(QString::fromUtf8(fields[i].first), group), i / 2, (i % 2) * 2);
        form->addWidget(fields[i].second, i / 2, (i % 2) * 2 + 1);
    }
    auto* item = lbItem = new QLabel(ItemText(), group);
    item->setObjectName(QStringLiteral("lbItem"));
    item->setWordWrap(true);
    form->addWidget(item, 3, 0, 1, 4);
    tblPoints = new QTableWidget(0, 3, group);
    tblPoints->setObjectName(QStringLiteral("tblPoints"));
    tblPoints->setHorizontalHeaderLabels(
        {QStringLiteral("Punkt"), QStringLiteral("Nominalna"), QStringLiteral("Wzorzec")});
    tblPoints->verticalHeader()->hide();
    tblPoints->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblPoints->horizontalHeader()->setStretchLastSection(true);
    for (const ProcedureRange& range : setup_.procedure.ranges)
        for (const ProcedurePoint& p : range.points) {
            const int row = tblPoints->rowCount();
            tblPoints->insertRow(row);
            tblPoints->setItem(row, 0, new QTableWidgetItem(p.id));
            tblPoints->setItem(row, 1,
                               new QTableWidgetItem(AtResolution(p.nominal, range.resolution / 10) +
                                                    ' ' + range.unit));
            auto* choice = new QComboBox(tblPoints);
            choice->setObjectName(QStringLiteral("cbxStandard_") + p.id);
            tblPoints->setCellWidget(row, 2, choice);
        }
    tblPoints->setMaximumHeight(
        tblPoints->verticalHeader()->defaultSectionSize() * (tblPoints->rowCount() + 1) + 8);
    form->addWidget(tblPoints, 4, 0, 1, 4);
    cbAsFoundOnly = new QCheckBox(QStringLiteral("Tylko jak znaleziono (bez regulacji)"), group);
    cbAsFoundOnly->setObjectName(QStringLiteral("cbAsFoundOnly"));
    btStandards = Button("btStandards", QStringLiteral("Wzorce…"), group);
    connect(btStandards, &QPushButton::clicked, this, [this] {
        RunGuarded([this] { EditStandards(); },
                   [this](const QString& text) {
                       QMessageBox::critical(this, QStringLiteral("Wzorce"), text);
                   });
    });
    form->addWidget(cbAsFoundOnly, 5, 0, 1, 3);
    form->addWidget(btStandards, 5, 3, Qt::AlignRight);
    static_cast<QBoxLayout*>(parent->layout())->addWidget(group);
    FillStandards();
}

// Each point's choice of standard: the one it had, else the first in the range's unit.
void ProcedureWindow::FillStandards() {
    int row = 0;
    for (const ProcedureRange& range : setup_.procedure.ranges)
        for (qsizetype i = 0; i < range.points.size(); ++i, ++row) {
            auto* choice = static_cast<QComboBox*>(tblPoints->cellWidget(row, 2));
            const QString had = choice->currentData().toString();
            choice->clear();
            choice->addItem(QStringLiteral("(brak)"), QString());
            for (const ReferenceStandard& s : standards_)
                choice->addItem(s.overdue(QDate::currentDate())
                                    ? s.id + QStringLiteral(" (po terminie wzorcowania)")
                                    : s.id + (s.description.isEmpty()
                                                  ? QString()
                                                  : QStringLiteral(" – ") + s.description),
                                s.id);
            int at = choice->findData(had);
            for (qsizetype j = 0; at <= 0 && j < standards_.size(); ++j)
                if (standards_[j].unit == range.unit) at = int(j) + 1;
            choice->setCurrentIndex(std::max(at, standards_.isEmpty() ? 0 : 1));
        }
}

void ProcedureWindow::EditStandards() {
    StandardsDialog dialog(setup_.standardsFile, this);
    if (dialog.exec() != QDialog::Accepted) return;
    standards_ = ReadStandardsFile(setup_.standardsFile);
    FillStandards();
}

ProcedureContext ProcedureWindow::ContextFromFields() const {
    ProcedureContext c;
    c.operatorName = eOperator->text().trimmed();
    c.checker = eChecker->text().trimmed();
    c.customer = eCustomer->text().trimmed();
    c.place = ePlace->text().trimmed();
    for (auto [edit, into, what] : {std::tuple{eTemperature, &c.temperature, "temperatura"},
                                    std::tuple{eHumidity, &c.humidity, "wilgotność"}}) {
        if (edit->text().trimmed().isEmpty()) continue;
        *into = TypedNumber(edit->text());
        if (!*into)
            throw AppError(QStringLiteral("Procedura kalibracji: %1 \"%2\" nie jest liczbą")
                               .arg(QString::fromUtf8(what), edit->text()));
    }
    if (c.operatorName.isEmpty())
        throw AppError(QStringLiteral("Procedura kalibracji: podaj, kto wykonuje (Wykonał)"));
    c.standards = standards_;
    int row = 0;
    for (const ProcedureRange& range : setup_.procedure.ranges)
        for (const ProcedurePoint& p : range.points)
            c.standardAt.insert(
                p.id,
                static_cast<QComboBox*>(tblPoints->cellWidget(row++, 2))->currentData().toString());
    return c;
}

ProcedureRun::Hooks ProcedureWindow::Hooks() {
    ProcedureRun::Hooks hooks;
    hooks.applied = [this](const ProcedureRange& range, const ProcedurePoint& point,
                           const ReferenceStandard* standard) {
        return WaitForApplied(range, point, standard);
    };
    hooks.confirmAdjust = [this](const QList<AdjustmentStep>& s) { return ConfirmAdjust(s); };
    hooks.confirmRestore = [this](const QList<AdjustmentStep>& s) { return ConfirmRestore(s); };
    hooks.stopped = [this] { return stopRequested_; };
    hooks.pause = [this](int ms) { Pause(ms); };
    hooks.progress = [this](const QString& text) {
        lbStatus->setText(text);
        ShowResults();
    };
    return hooks;
}

// Waits in the window's events until the operator takes the samples or stops; meanwhile the
// result register is read for the live value and its stability light.
std::optional<double> ProcedureWindow::WaitForApplied(const ProcedureRange& range,
                                                      const ProcedurePoint& point,
                                                      const ReferenceStandard* standard) {
    ShowResults();
    if (stopRequested_) return std::nullopt;
    const QString stage = run_->result().asFound.size() < setup_.procedure.pointCount()
                              ? QStringLiteral("Jak znaleziono")
                              : QStringLiteral("Jak pozostawiono");
    lbInstruction->setText(
        QStringLiteral("%1, punkt %2: przyłóż %3 %4%5")
            .arg(stage, point.id, AtResolution(point.nominal, range.resolution / 10), range.unit,
                 standard ? QStringLiteral(" ze wzorca ") + standard->id : QString()));
    eReference->setText(AtResolution(point.nominal, range.resolution / 10));
    eReference->setEnabled(true);
    btMeasure->setEnabled(true);
    eReference->setFocus();
    eReference->selectAll();
    liveNode_ = tree_.FindNodeByName(range.resultRegister);
    liveRange_ = &range;
    liveSeries_ = TrendSeries();
    lbStability->setText(QStringLiteral("czekam na odczyty"));
    lbStability->setStyleSheet(QStringLiteral("background: #d0d0d0"));
    liveTimer_->start();
    QTimer::singleShot(0, this, &ProcedureWindow::ReadLive);
    QEventLoop loop;
    std::optional<double> applied;
    answer_ = [&](std::optional<double> v) {
        applied = v;
        loop.quit();
    };
    loop.exec();
    answer_ = nullptr;
    liveTimer_->stop();
    liveNode_ = nullptr;
    // No longer read: the live value and its light go, not to be taken for the device's.
    lbLive->setText(QStringLiteral("—"));
    lbStability->clear();
    lbStability->setStyleSheet(QString());
    eReference->setEnabled(false);
    btMeasure->setEnabled(false);
    if (applied)
        lbInstruction->setText(QStringLiteral("%1, punkt %2: próbki…").arg(stage, point.id));
    return applied;
}

void ProcedureWindow::ReadLive() {
    if (!liveNode_ || liveReading_ || engine_.Busy() || !engine_.LinkOpen()) return;
    liveReading_ = true;
    const QDateTime now = QDateTime::currentDateTime();
    std::optional<double> value;
    try {
        engine_.ReadRegister(liveNode_);
        if (liveNode_ && engine_.LastReplyOk()) value = NumberOfValue(liveNode_->record);
    } catch (const AppError&) { // shown as no reading
    }
    liveReading_ = false;
    if (!liveNode_) return; // the operator answered while the read was out
    if (value)
        liveSeries_.AddValue(now.toMSecsSinceEpoch(), *value);
    else
        liveSeries_.AddFailure(now.toMSecsSinceEpoch());
    lbLive->setText(value ? AtResolution(*value, liveRange_->resolution) + ' ' + liveRange_->unit
                          : QStringLiteral("brak odczytu"));
    if (liveRange_->stabilityBand <= 0) {
        lbStability->setText(QStringLiteral("bez reguły stabilności"));
        return;
    }
    // Within ±band/2 of the mean: the readings span at most the band, as the run asks.
    switch (liveSeries_.StabilityOver(liveRange_->stabilitySeconds, liveRange_->stabilityBand / 2,
                                      now.toMSecsSinceEpoch())) {
    case Stability::Stable:
        lbStability->setText(QStringLiteral("stabilny"));
        lbStability->setStyleSheet(QStringLiteral("background: #60c060"));
        break;
    case Stability::Unstable:
        lbStability->setText(QStringLiteral("niestabilny"));
        lbStability->setStyleSheet(QStringLiteral("background: #e06060"));
        break;
    case Stability::Unknown:
        lbStability->setText(QStringLiteral("czekam na odczyty"));
        lbStability->setStyleSheet(QStringLiteral("background: #d0d0d0"));
        break;
    }
}

void ProcedureWindow::Pause(int ms) {
    if (ms <= 0 || stopRequested_) return;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    const QMetaObject::Connection stop =
        connect(btStop, &QPushButton::clicked, &loop, &QEventLoop::quit);
    loop.exec();
    disconnect(stop);
}

bool ProcedureWindow::ConfirmAdjust(const QList<AdjustmentStep>& steps) {
    QStringList lines;
    for (const AdjustmentStep& s : steps) {
        QString difference;
        try {
            difference = QStringLiteral(" (różnica %1)")
                             .arg(Shortest(double(ParseReal(s.wanted)) - ParseReal(s.before)));
        } catch (const AppError&) {
        }
        lines << QStringLiteral("%1 (%2): %3 → %4%5")
                     .arg(s.registerName, s.address, s.before, s.wanted, difference);
    }
    lbInstruction->setText(QStringLiteral("Regulacja: potwierdź zapis"));
    return Ask(this, "ConfirmAdjust",
               QStringLiteral("Regulacja zapisze do urządzenia:\n\n%1\n\nZapisać te wartości?")
                   .arg(lines.join('\n')),
               false);
}

bool ProcedureWindow::ConfirmRestore(const QList<AdjustmentStep>& steps) {
    QStringList lines;
    for (const AdjustmentStep& s : steps)
        lines << QStringLiteral("%1: zapisano %2, odczytano %3%4")
                     .arg(s.registerName, s.wanted,
                          s.after.isEmpty() ? QStringLiteral("(brak)") : s.after,
                          s.holds ? QString() : QStringLiteral(" – nie przyjęte"));
    ShowResults();
    return Ask(this, "ConfirmRestore",
               QStringLiteral("Urządzenie nie przyjęło regulacji:\n\n%1\n\nZapisać z powrotem "
                              "stare wartości?")
                   .arg(lines.join('\n')),
               true);
}

void ProcedureWindow::ShowResults() {
    if (!run_) return;
    const ProcedureResult& r = run_->result();
    tblResults->setRowCount(0);
    auto add = [&](const QString& stage, const QList<PointResult>& points) {
        for (const PointResult& p : points) {
            const ProcedureRange* range = RangeOf(setup_.procedure, p.range);
            const double res = range ? range->resolution : 0;
            const QString u = ' ' + p.unit;
            const QStringList cells{stage,
                                    p.id,
                                    AtResolution(p.nominal, res) + u,
                                    AtResolution(p.reference, res) + u,
                                    AtResolution(p.mean, res) + u,
                                    AtResolution(p.error, res) + u,
                                    FormatFixed(p.errorPercentOfSpan, 3) + QStringLiteral(" %"),
                                    AtResolution(p.tolerance, res) + u,
                                    TwoSignificantDigits(p.budget.expanded) + u,
                                    VerdictText(p.verdict) +
                                        (p.stable ? QString() : QStringLiteral(" (niestabilny)"))};
            const int row = tblResults->rowCount();
            tblResults->insertRow(row);
            for (int c = 0; c < cells.size(); ++c)
                tblResults->setItem(row, c, new QTableWidgetItem(cells[c]));
            const QColor colour = p.verdict == Verdict::Pass   ? QColor(0xc8, 0xf0, 0xc8)
                                  : p.verdict == Verdict::Fail ? QColor(0xf4, 0xc0, 0xc0)
                                                               : QColor(0xf4, 0xe8, 0xb0);
            tblResults->item(row, 9)->setBackground(colour);
        }
    };
    add(QStringLiteral("jak znaleziono"), r.asFound);
    for (const AdjustmentStep& s : r.adjustments) {
        if (!r.adjustConfirmed) break;
        const int row = tblResults->rowCount();
        tblResults->insertRow(row);
        tblResults->setItem(row, 0, new QTableWidgetItem(QStringLiteral("regulacja")));
        tblResults->setItem(row, 1, new QTableWidgetItem(s.point));
        tblResults->setItem(
            row, 2,
            new QTableWidgetItem(QStringLiteral("%1: %2 → %3, odczytano %4%5")
                                     .arg(s.registerName, s.before, s.wanted,
                                          s.after.isEmpty() ? QStringLiteral("(brak)") : s.after,
                                          s.holds      ? QString()
                                          : s.restored ? QStringLiteral(", przywrócono")
                                                       : QStringLiteral(", nie przyjęte"))));
        tblResults->setSpan(row, 2, 1, 8);
    }
    add(QStringLiteral("jak pozostawiono"), r.asLeft);
    tblResults->resizeColumnsToContents();
}

void ProcedureWindow::SetRunning(bool running) {
    for (QWidget* w : std::initializer_list<QWidget*>{eOperator, eChecker, eCustomer, ePlace,
                                                      eTemperature, eHumidity, tblPoints,
                                                      cbAsFoundOnly, btStandards, btStart, btClose})
        w->setEnabled(!running);
    btStop->setEnabled(running);
    eReference->setEnabled(false);
    btMeasure->setEnabled(false);
}

void ProcedureWindow::Start() {
    if (run_) return;
    if (!engine_.LinkOpen()) throw AppError(QStringLiteral("brak połączenia !"));
    if (engine_.Busy())
        throw AppError(QStringLiteral("Procedura kalibracji: najpierw zakończ bieżący odczyt"));
    const ProcedureContext context = ContextFromFields();
    IdentifyDevice();
    for (const ReferenceStandard& s : context.standards)
        if (context.standardAt.values().contains(s.id) && s.overdue(QDate::currentDate()) &&
            !Ask(this, "OverdueStandard",
                 QStringLiteral("Wzorzec %1 jest po terminie wzorcowania (%2); protokół to "
                                "powie. Kontynuować?")
                     .arg(s.id, s.due.toString(Qt::ISODate)),
                 false))
            return;
    stopRequested_ = false;
    result_.reset();
    files_ = {};
    lbResult->clear();
    ProcedureRun run(engine_, tree_, setup_.procedure, context, Hooks());
    run_ = &run;
    SetRunning(true);
    QString failure;
    try {
        RunSteps(run);
    } catch (const AppError& error) { // the run ends there; its record says why
        failure = QStringLiteral("błąd: ") + error.message();
    }
    run.Finish(!failure.isEmpty() ? failure
               : stopRequested_   ? QStringLiteral("przerwana przez operatora")
                                  : QString());
    ShowResults();
    result_ = run.result();
    run_ = nullptr;
    SetRunning(false);
    lbInstruction->setText(QStringLiteral("Procedura zakończona."));
    WriteCertificate(*result_, context);
}

// As found; unless only that is asked, the adjustment (when a point is not in tolerance, or
// the operator wants it anyway) and, once its writes are confirmed, as left.
void ProcedureWindow::RunSteps(ProcedureRun& run) {
    if (!run.AsFound() || cbAsFoundOnly->isChecked()) return;
    ShowResults();
    const bool allPass = run.result().overall() == Verdict::Pass;
    if (allPass &&
        Ask(this, "SkipAdjust",
            QStringLiteral("Wszystkie punkty jak znaleziono są zgodne. Pominąć regulację?"), true))
        return;
    lbInstruction->setText(QStringLiteral("Regulacja: odczyt obecnych wartości…"));
    const bool going = run.Adjust();
    ShowResults();
    if (going && run.result().adjustConfirmed) run.AsLeft();
}

void ProcedureWindow::WriteCertificate(const ProcedureResult& r, const ProcedureContext& context) {
    const QString verdict =
        r.stopReason.isEmpty() ? VerdictText(r.overall()) : QStringLiteral("przerwana");
    CertificateHeader header = setup_.header;
    header.issued = QDateTime::currentDateTime();
    files_ = SaveNumberedCertificate(setup_.recordsFolder, header, setup_.procedure, context, r);
    lbResult->setText(QStringLiteral("Wynik: %1%2. Protokół %3: %4")
                          .arg(verdict,
                               r.stopReason.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" (") + r.stopReason + QStringLiteral(")"),
                               files_.number, QDir::toNativeSeparators(files_.pdf)));
    if (logLine)
        logLine(QStringLiteral("Procedura kalibracji: protokół %1, wynik: %2")
                    .arg(files_.number, verdict));
}

// Closing while a run goes stops it first; the run's own end closes nothing.
void ProcedureWindow::reject() {
    if (run_) {
        stopRequested_ = true;
        if (answer_) answer_(std::nullopt);
        return;
    }
    QDialog::reject();
}
