#include "standardsdialog.h"
#include "guarded.h"
#include "tools/logfile.h"
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

namespace {

enum Column { Id, Description, Model, Serial, Certificate, Lab, U, K, Unit, Due, State, Count };

QString NumberText(double v) {
    return QLocale::c().toString(v, 'g', 12).replace('.', ',');
}

} // namespace

StandardsDialog::StandardsDialog(const QString& path, QWidget* parent)
    : QDialog(parent), path_(path) {
    setObjectName(QStringLiteral("StandardsDialog"));
    setWindowTitle(QStringLiteral("Wzorce"));
    auto* where = new QLabel(QStringLiteral("Plik: ") + QDir::toNativeSeparators(path), this);
    table_ = new QTableWidget(0, Count, this);
    table_->setObjectName(QStringLiteral("standards"));
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Id"), QStringLiteral("Opis"), QStringLiteral("Model"),
         QStringLiteral("Nr seryjny"), QStringLiteral("Świadectwo"), QStringLiteral("Laboratorium"),
         QStringLiteral("U"), QStringLiteral("k"), QStringLiteral("Jednostka"),
         QStringLiteral("Ważny do"), QStringLiteral("Stan")});
    table_->verticalHeader()->hide();
    for (const ReferenceStandard& s : ReadStandardsFile(path))
        AddRow(s);
    table_->resizeColumnsToContents();
    connect(table_, &QTableWidget::cellChanged, this, [this](int row, int column) {
        if (column == Due) MarkDue(row);
    });
    auto* add = new QPushButton(QStringLiteral("Dodaj"), this);
    add->setObjectName(QStringLiteral("btAdd"));
    connect(add, &QPushButton::clicked, this, [this] {
        AddRow();
        table_->setCurrentCell(table_->rowCount() - 1, Id);
        table_->editItem(table_->item(table_->rowCount() - 1, Id));
    });
    auto* remove = new QPushButton(QStringLiteral("Usuń"), this);
    remove->setObjectName(QStringLiteral("btRemove"));
    connect(remove, &QPushButton::clicked, this, [this] {
        if (table_->currentRow() >= 0) table_->removeRow(table_->currentRow());
    });
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("Zapisz"), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("btSave"));
    buttons->addButton(QStringLiteral("Anuluj"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("btCancel"));
    buttons->addButton(add, QDialogButtonBox::ActionRole);
    buttons->addButton(remove, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        RunGuarded(
            [this] {
                Save();
                accept();
            },
            [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); });
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(where);
    layout->addWidget(table_);
    layout->addWidget(buttons);
    resize(980, 360);
}

void StandardsDialog::AddRow(const ReferenceStandard& s) {
    const QSignalBlocker quiet(table_);
    const int row = table_->rowCount();
    table_->insertRow(row);
    const QString texts[] = {s.id,
                             s.description,
                             s.model,
                             s.serialNumber,
                             s.certificate,
                             s.lab,
                             NumberText(s.U),
                             NumberText(s.k),
                             s.unit,
                             s.due.isValid() ? s.due.toString(Qt::ISODate) : QString()};
    for (int column = 0; column < State; ++column)
        table_->setItem(row, column, new QTableWidgetItem(texts[column]));
    auto* state = new QTableWidgetItem;
    state->setFlags(state->flags() & ~Qt::ItemIsEditable);
    table_->setItem(row, State, state);
    MarkDue(row);
}

// "po terminie wzorcowania" in red for a standard due before today.
void StandardsDialog::MarkDue(int row) {
    const QSignalBlocker quiet(table_);
    QTableWidgetItem* state = table_->item(row, State);
    const QTableWidgetItem* due = table_->item(row, Due);
    if (!state || !due) return;
    const QDate date = QDate::fromString(due->text().trimmed(), Qt::ISODate);
    const bool overdue = date.isValid() && QDate::currentDate() > date;
    state->setText(due->text().trimmed().isEmpty() ? QStringLiteral("bez terminu")
                   : !date.isValid()               ? QStringLiteral("zła data")
                   : overdue                       ? QStringLiteral("po terminie wzorcowania")
                                                   : QStringLiteral("ważny"));
    state->setForeground(overdue || (!date.isValid() && !due->text().trimmed().isEmpty())
                             ? QColor(Qt::red)
                             : palette().color(QPalette::Text));
}

QList<ReferenceStandard> StandardsDialog::Standards() const {
    QList<ReferenceStandard> list;
    const QStringList headers{"Id",           "Opis", "Model", "Nr seryjny", "Świadectwo",
                              "Laboratorium", "U",    "k",     "Jednostka",  "Ważny do"};
    for (int row = 0; row < table_->rowCount(); ++row) {
        auto text = [&](int column) {
            const QTableWidgetItem* item = table_->item(row, column);
            return item ? item->text().trimmed() : QString();
        };
        auto refuse = [&](int column, const QString& why) {
            return AppError(
                QStringLiteral("Wzorce: wiersz %1, %2: %3").arg(row + 1).arg(headers[column], why));
        };
        ReferenceStandard s;
        s.id = text(Id);
        s.description = text(Description);
        s.model = text(Model);
        s.serialNumber = text(Serial);
        s.certificate = text(Certificate);
        s.lab = text(Lab);
        s.unit = text(Unit);
        if (s.id.isEmpty()) throw refuse(Id, QStringLiteral("potrzebny identyfikator"));
        if (FindStandard(list, s.id))
            throw refuse(Id, QStringLiteral("wzorzec \"%1\" już jest").arg(s.id));
        for (auto [column, into] : {std::pair{int(U), &s.U}, std::pair{int(K), &s.k}}) {
            bool ok = false;
            const double v = QLocale::c().toDouble(text(column).replace(',', '.'), &ok);
            if (!ok || !std::isfinite(v) || v < 0 || (column == K && v == 0))
                throw refuse(column,
                             QStringLiteral("\"%1\" nie jest liczbą dodatnią").arg(text(column)));
            *into = v;
        }
        if (!text(Due).isEmpty()) {
            s.due = QDate::fromString(text(Due), Qt::ISODate);
            if (!s.due.isValid())
                throw refuse(Due,
                             QStringLiteral("\"%1\": potrzebna data RRRR-MM-DD").arg(text(Due)));
        }
        list << s;
    }
    return list;
}

void StandardsDialog::Save() {
    const QByteArray json = StandardsJson(Standards());
    ReadStandards(json, QStringLiteral("wzorce.json")); // what is saved reads back
    SaveFileSafely(path_, json);
}
