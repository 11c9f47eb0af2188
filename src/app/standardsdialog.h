#pragma once
// "Wzorce…": the workshop's reference standards (wzorce.json in the data folder) as a table
// to edit; a standard past its due date says so in its row.
#include "tools/standards.h"
#include <QDialog>

class QTableWidget;

class StandardsDialog : public QDialog {
    Q_OBJECT
public:
    StandardsDialog(const QString& path, QWidget* parent);
    QTableWidget* table() const { return table_; }
    // The rows as standards: an empty id, a number that is none, a date not RRRR-MM-DD or an
    // id twice throws AppError naming the row and the column.
    QList<ReferenceStandard> Standards() const;
    // Checks the rows and writes the file whole; throws AppError when it cannot.
    void Save();
    void AddRow(const ReferenceStandard& standard = {});

private:
    void MarkDue(int row);
    QString path_;
    QTableWidget* table_;
};
