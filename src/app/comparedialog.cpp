#include "comparedialog.h"
#include "guarded.h"
#include "tools/logfile.h"
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

enum Column { kTick, kName, kAddress, kBefore, kAfter, kResult, kColumns };

} // namespace

CompareDialog::CompareDialog(
    const Comparison& comparison, const QString& title, const QString& otherDevice,
    std::function<QList<RestoreResult>(const QList<RegisterChange>&)> restore, QWidget* parent)
    : QDialog(parent), comparison_(comparison), restore_(std::move(restore)) {
    setObjectName(QStringLiteral("CompareDialog"));
    setWindowTitle(QStringLiteral("Porównanie ustawień"));
    auto* heading = new QLabel(title, this);
    heading->setWordWrap(true);
    counts_ = new QLabel(QStringLiteral("Zmienione: %1, bez zmian: %2, bez odpowiedzi: %3")
                             .arg(comparison.changed)
                             .arg(comparison.same)
                             .arg(comparison.unanswered),
                         this);
    counts_->setObjectName(QStringLiteral("counts"));
    table_ = new QTableWidget(int(comparison.rows.size()), kColumns, this);
    table_->setObjectName(QStringLiteral("registers"));
    table_->setHorizontalHeaderLabels({QString(), QStringLiteral("Rejestr"),
                                       QStringLiteral("Adres"), QStringLiteral("W zrzucie"),
                                       QStringLiteral("Teraz"), QStringLiteral("Wynik")});
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    QFont bold = font();
    bold.setBold(true);
    for (int row = 0; row < comparison.rows.size(); ++row) {
        const RegisterChange& r = comparison.rows[row];
        auto* tick = new QTableWidgetItem(r.changed ? QStringLiteral("*") : QString());
        if (r.restorable) {
            tick->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
            tick->setCheckState(Qt::Checked);
        } else {
            tick->setFlags(Qt::ItemIsEnabled);
        }
        table_->setItem(row, kTick, tick);
        const QStringList texts{r.name, r.address, r.before, r.after, QString()};
        for (int c = 0; c < texts.size(); ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            if (r.changed) item->setFont(bold);
            table_->setItem(row, kName + c, item);
        }
        if (r.changed && !r.writable)
            table_->item(row, kResult)->setText(QStringLiteral("tylko do odczytu"));
    }
    table_->resizeColumnsToContents();

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* csv =
        buttons->addButton(QStringLiteral("Eksportuj CSV…"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("csv"));
    restoreButton_ =
        buttons->addButton(QStringLiteral("Przywróć zaznaczone…"), QDialogButtonBox::ActionRole);
    restoreButton_->setObjectName(QStringLiteral("restore"));
    restoreButton_->setEnabled(restore_ != nullptr && comparison.changed > 0);
    QPushButton* close =
        buttons->addButton(QStringLiteral("Zamknij"), QDialogButtonBox::RejectRole);
    connect(csv, &QPushButton::clicked, this, [this] {
        RunGuarded([this] { ExportCsv(); },
                   [this](const QString& text) { QMessageBox::critical(this, "vardel", text); });
    });
    connect(restoreButton_, &QPushButton::clicked, this, [this] {
        RunGuarded([this] { RestoreChosen(); },
                   [this](const QString& text) { QMessageBox::critical(this, "vardel", text); });
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addWidget(counts_);
    layout->addWidget(table_, 1);
    if (!otherDevice.isEmpty()) {
        otherDevice_ = new QCheckBox(
            QStringLiteral("Zrzut jest innego urządzenia (%1): przywróć mimo to").arg(otherDevice),
            this);
        otherDevice_->setObjectName(QStringLiteral("otherDevice"));
        layout->addWidget(otherDevice_);
    }
    layout->addWidget(buttons);
    resize(800, 480);
}

void CompareDialog::SetValueHeadings(const QString& before, const QString& after) {
    table_->horizontalHeaderItem(kBefore)->setText(before);
    table_->horizontalHeaderItem(kAfter)->setText(after);
}

QList<RegisterChange> CompareDialog::Chosen() const {
    QList<RegisterChange> chosen;
    for (int row = 0; row < comparison_.rows.size(); ++row)
        if (comparison_.rows[row].restorable &&
            table_->item(row, kTick)->checkState() == Qt::Checked)
            chosen << comparison_.rows[row];
    return chosen;
}

bool CompareDialog::Confirmed(const QString& question) {
    if (confirm) return confirm(question);
    return QMessageBox::question(this, QStringLiteral("Przywróć ustawienia"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void CompareDialog::RestoreChosen() {
    if (!restore_) return;
    if (otherDevice_ && !otherDevice_->isChecked())
        throw AppError(QStringLiteral("Zrzut jest innego urządzenia: przywrócenie wymaga "
                                      "zaznaczenia \"przywróć mimo to\"."));
    const QList<RegisterChange> chosen = Chosen();
    if (chosen.isEmpty()) throw AppError(QStringLiteral("Nie zaznaczono żadnego rejestru."));
    QStringList lines;
    for (const RegisterChange& r : chosen)
        lines << QStringLiteral("%1: %2 → %3").arg(r.name, r.after, r.before);
    if (!Confirmed(QStringLiteral("Zapisać w urządzeniu wartości ze zrzutu (rejestrów: %1)?\n\n%2")
                       .arg(chosen.size())
                       .arg(lines.join('\n'))))
        return;
    const QList<RestoreResult> results = restore_(chosen);
    for (const RestoreResult& result : results)
        for (int row = 0; row < comparison_.rows.size(); ++row)
            if (comparison_.rows[row].name == result.name) {
                table_->item(row, kResult)
                    ->setText(RestoreText(result).mid(result.name.size() + 2));
                if (result.end == RestoreResult::End::Kept)
                    table_->item(row, kAfter)->setText(result.now);
            }
    restoreButton_->setEnabled(false); // the comparison is of the device before the writes
}

void CompareDialog::ExportCsv() {
    const QString path =
        chooseCsvPath ? chooseCsvPath()
                      : QFileDialog::getSaveFileName(this, QStringLiteral("Eksportuj CSV"),
                                                     QString(), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    SaveFileSafely(path, ComparisonCsv(comparison_));
}
