#pragma once
// A snapshot against the device now (or another snapshot): every register with its value
// then and now, the changed ones marked, counts at the top; the changes exported as CSV or,
// after one confirmation, written back and read again.
#include "tools/snapshot.h"
#include <QDialog>
#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

class CompareDialog : public QDialog {
    Q_OBJECT
public:
    // otherDevice: why the snapshot is of another device (empty when it is this one); a
    // restore then needs the operator's explicit tick. restore: writes the chosen changes.
    CompareDialog(const Comparison& comparison, const QString& title, const QString& otherDevice,
                  std::function<QList<RestoreResult>(const QList<RegisterChange>&)> restore,
                  QWidget* parent);

    QTableWidget* table() const { return table_; }
    // The value columns' headings: "W zrzucie" and "Teraz" at first.
    void SetValueHeadings(const QString& before, const QString& after);
    // The changes ticked for a restore.
    QList<RegisterChange> Chosen() const;
    // Writes the ticked changes after the operator's one confirmation and shows each result.
    void RestoreChosen();

    // Set by tests: the answer to the confirmation and the CSV's path, without showing them.
    std::function<bool(const QString& question)> confirm;
    std::function<QString()> chooseCsvPath;

private:
    void ExportCsv();
    bool Confirmed(const QString& question);

    Comparison comparison_;
    std::function<QList<RestoreResult>(const QList<RegisterChange>&)> restore_;
    QTableWidget* table_;
    QLabel* counts_;
    QCheckBox* otherDevice_ = nullptr;
    QPushButton* restoreButton_;
};
