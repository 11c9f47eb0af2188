#include "linedialog.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

QString LineOptions::Changes() const {
    QStringList changes;
    if (timeoutMs != kDefaultTimeoutMs)
        changes << QStringLiteral("czas odpowiedzi %1 ms").arg(timeoutMs);
    if (removeEcho) changes << QStringLiteral("usuwanie echa");
    if (rs485) changes << QStringLiteral("kierunek RS-485");
    return changes.join(QStringLiteral(", "));
}

LineDialog::LineDialog(const LineOptions& options, const QString& statistics, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("LineDialog"));
    setWindowTitle(QStringLiteral("Ustawienia łącza"));
    timeout_ = new QSpinBox(this);
    timeout_->setObjectName(QStringLiteral("timeout"));
    timeout_->setRange(10, 60000);
    timeout_->setSuffix(QStringLiteral(" ms"));
    timeout_->setValue(options.timeoutMs);
    timeout_->setToolTip(QStringLiteral(
        "Jak długo żądanie czeka na odpowiedź (domyślnie 40 ms); wolniejsze urządzenie lub "
        "bramka potrzebują więcej"));
    echo_ = new QCheckBox(QStringLiteral("Usuwaj echo przejściówki"), this);
    echo_->setObjectName(QStringLiteral("echo"));
    echo_->setChecked(options.removeEcho);
    echo_->setToolTip(QStringLiteral(
        "Przejściówka, która odsyła każdy wysłany bajt: własne bajty żądania przed odpowiedzią "
        "są pomijane. Bez tego taka odpowiedź kończy się jako \"echo łącza\""));
    rs485_ = new QCheckBox(QStringLiteral("Steruj kierunkiem RS-485 (RTS)"), this);
    rs485_->setObjectName(QStringLiteral("rs485"));
    rs485_->setChecked(options.rs485);
    rs485_->setToolTip(QStringLiteral(
        "Dla konwerterów i portów, które przełączają nadawanie linią RTS: tryb RS-485 "
        "sterownika, a gdy go nie ma, RTS podniesione na czas wysyłania żądania"));
    auto* stats = new QLabel(statistics, this);
    stats->setObjectName(QStringLiteral("statistics"));
    stats->setWordWrap(true);
    stats->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Czas oczekiwania na odpowiedź:"), timeout_);
    form->addRow(QString(), echo_);
    form->addRow(QString(), rs485_);
    form->addRow(QStringLiteral("Statystyka łącza:"), stats);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Anuluj"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

LineOptions LineDialog::options() const {
    return {timeout_->value(), echo_->isChecked(), rs485_->isChecked()};
}
