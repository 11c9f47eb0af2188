#include "doctordialog.h"
#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

DoctorDialog::DoctorDialog(Setup setup, QWidget* parent)
    : QDialog(parent), setup_(std::move(setup)) {
    setObjectName(QStringLiteral("DoctorDialog"));
    setWindowTitle(QStringLiteral("Diagnostyka łącza"));
    auto* probe = new QLabel(setup_.registerText + QStringLiteral(", tylko odczyt"), this);
    addresses_ = new QLineEdit(setup_.addresses, this);
    addresses_->setObjectName(QStringLiteral("addresses"));
    addresses_->setToolTip(QStringLiteral(
        "Adres, zakres OD-DO albo puste pole: 247, potem 1-246. Gdy któryś odpowie, dalsze "
        "ustawienia łącza są próbowane już tylko pod nim"));
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    report_ = new QPlainTextEdit(this);
    report_->setObjectName(QStringLiteral("report"));
    report_->setReadOnly(true);
    report_->setPlaceholderText(QStringLiteral(
        "Próbuje każdej szybkości z każdą parzystością (najpierw ustawień okna), wykrywa echo "
        "przejściówki i mierzy 20 odpowiedzi. Niczego nie zapisuje."));

    auto* buttons = new QDialogButtonBox(this);
    start_ = buttons->addButton(QStringLiteral("Start"), QDialogButtonBox::ActionRole);
    start_->setObjectName(QStringLiteral("start"));
    apply_ = buttons->addButton(QStringLiteral("Ustaw znalezione"), QDialogButtonBox::AcceptRole);
    apply_->setObjectName(QStringLiteral("apply"));
    apply_->setToolTip(QStringLiteral(
        "Szybkość, Parzystość i Adres okna (i usuwanie echa) jak w pierwszym ustawieniu, "
        "które odpowiedziało"));
    apply_->setEnabled(false);
    QPushButton* close =
        buttons->addButton(QStringLiteral("Zamknij"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("close"));
    connect(start_, &QPushButton::clicked, this, [this] { running_ ? Stop() : Run(); });
    connect(apply_, &QPushButton::clicked, this, [this] {
        applyChosen_ = true;
        accept();
    });
    connect(close, &QPushButton::clicked, this, &DoctorDialog::reject);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Rejestr:"), probe);
    form->addRow(QStringLiteral("Adresy:"), addresses_);
    form->addRow(QStringLiteral("Postęp:"), progress_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(report_, 1);
    layout->addWidget(buttons);
    resize(560, 380);
}

QStringList DoctorDialog::verdict() const {
    return findings_ ? DoctorVerdict(*findings_, DoctorAudience::Window) : QStringList();
}

void DoctorDialog::reject() {
    if (running_) {
        Stop(); // Esc ends the run, a second one the dialog
        return;
    }
    QDialog::reject();
}

void DoctorDialog::Stop() {
    stopRequested_ = true;
}

void DoctorDialog::Run() {
    if (running_) return;
    DoctorFindings f = setup_.start;
    const std::optional<QList<int>> addresses = DoctorAddressesOf(addresses_->text(), f.addresses);
    if (!addresses) {
        report_->setPlainText(
            QStringLiteral(
                "Adresy: jeden adres 1-247, zakres OD-DO albo puste pole, a jest \"%1\".")
                .arg(addresses_->text()));
        return;
    }
    running_ = true;
    stopRequested_ = false;
    findings_.reset();
    apply_->setEnabled(false);
    addresses_->setEnabled(false);
    start_->setText(QStringLiteral("Zatrzymaj"));
    report_->clear();
    LineDoctor doctor(setup_.line, setup_.probe);
    doctor.stopped = [this] { return stopRequested_; };
    doctor.progress = [this](const QString& text) { progress_->setFormat(text + " %p%"); };
    doctor.refused = [this](const QString& why) { report_->appendPlainText(why); };
    doctor.answered = [this](const DoctorFindings::Answer& a) {
        report_->appendPlainText(
            QStringLiteral("%1 adres %2").arg(LineTryText(a.line)).arg(a.slave));
    };
    // Between two probes the dialog repaints and takes Esc and "Zatrzymaj".
    doctor.advanced = [this](int done, int total) {
        progress_->setRange(0, total);
        progress_->setValue(done);
        QApplication::processEvents();
    };
    doctor.Run(f, *addresses);
    Finished(f);
}

void DoctorDialog::Finished(const DoctorFindings& f) {
    running_ = false;
    findings_ = f;
    progress_->setFormat(stopRequested_ ? QStringLiteral("przerwane %p%") : QStringLiteral("%p%"));
    if (stopRequested_) report_->appendPlainText(QStringLiteral("Przerwane przez operatora."));
    for (const QString& sentence : verdict())
        report_->appendPlainText(sentence);
    start_->setText(QStringLiteral("Start"));
    addresses_->setEnabled(true);
    apply_->setEnabled(!f.answered.isEmpty());
}
