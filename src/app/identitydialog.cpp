#include "identitydialog.h"
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

void AddRow(QTableWidget* table, const QString& name, const QString& value) {
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(name));
    table->setItem(row, 1, new QTableWidgetItem(value));
}

} // namespace

IdentityDialog::IdentityDialog(const DeviceIdentity& identity, const QString& who,
                               const QList<HistoryRecord>& history, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("IdentityDialog"));
    setWindowTitle(QStringLiteral("Identyfikacja urządzenia"));
    auto* title = new QLabel(who, this);
    table_ = new QTableWidget(0, 2, this);
    table_->setObjectName(QStringLiteral("objects"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Obiekt"), QStringLiteral("Wartość")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (const IdentificationObject& o : identity.objects)
        AddRow(table_, ObjectName(o.id), ObjectText(o.value));
    if (!identity.serialNumber.isEmpty())
        AddRow(table_, QStringLiteral("Numer seryjny"), identity.serialNumber);
    if (!identity.firmware.isEmpty())
        AddRow(table_, QStringLiteral("Oprogramowanie"), identity.firmware);
    if (!identity.calibrationDate.isEmpty())
        AddRow(table_, QStringLiteral("Data kalibracji"), identity.calibrationDate);
    if (identity.serverId) {
        const ServerId& id = *identity.serverId;
        AddRow(table_, QStringLiteral("Identyfikator serwera"), ObjectText(id.id));
        AddRow(table_, QStringLiteral("Stan"),
               id.running ? QStringLiteral("pracuje") : QStringLiteral("zatrzymany"));
        if (!id.additional.isEmpty())
            AddRow(table_, QStringLiteral("Dane serwera"), ObjectText(id.additional));
    }
    table_->resizeColumnToContents(0);
    table_->resizeRowsToContents();
    QStringList said;
    said << (identity.answered() ? QStringLiteral("Odpowiedziała ") + identity.answeredBy()
                                 : QStringLiteral("Urządzenie nie podało identyfikacji."));
    for (const QString& note : identity.notes)
        said << note[0].toUpper() + note.mid(1);
    auto* answered = new QLabel(said.join('\n'), this);
    answered->setObjectName(QStringLiteral("answered"));
    answered->setWordWrap(true);
    // The newest record first: the last calibration is what the technician looks for.
    history_ = new QTableWidget(0, 5, this);
    history_->setObjectName(QStringLiteral("history"));
    history_->setHorizontalHeaderLabels({QStringLiteral("Początek"), QStringLiteral("Zakres"),
                                         QStringLiteral("Stan"), QStringLiteral("Średnia"),
                                         QStringLiteral("Zapisano")});
    history_->verticalHeader()->hide();
    history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    history_->horizontalHeader()->setStretchLastSection(true);
    for (auto it = history.rbegin(); it != history.rend(); ++it) {
        const int row = history_->rowCount();
        history_->insertRow(row);
        const QStringList texts{it->start.toString(QStringLiteral("yyyy-MM-dd HH:mm")), it->range,
                                it->status, it->mean, it->stored};
        for (int c = 0; c < texts.size(); ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setToolTip(it->path);
            history_->setItem(row, c, item);
        }
    }
    history_->resizeColumnsToContents();
    auto* historyTitle = new QLabel(
        history.isEmpty()
            ? QStringLiteral("Brak wcześniejszych kalibracji tego urządzenia w kalibracje/.")
            : QStringLiteral("Kalibracje tego urządzenia w kalibracje/ (%1): %2")
                  .arg(identity.serialNumber.isEmpty()
                           ? QStringLiteral("według pliku urządzenia i adresu")
                           : QStringLiteral("nr seryjny ") + identity.serialNumber)
                  .arg(history.size()),
        this);
    historyTitle->setObjectName(QStringLiteral("historyTitle"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Zamknij"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(table_, 1);
    layout->addWidget(answered);
    layout->addWidget(historyTitle);
    layout->addWidget(history_, 1);
    history_->setVisible(!history.isEmpty());
    layout->addWidget(buttons);
    resize(560, history.isEmpty() ? 360 : 520);
}
