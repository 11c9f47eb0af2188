#pragma once
// "Identyfikacja urządzenia": what the device said it is, object by object, and which
// functions answered.
#include "tools/history.h"
#include "tools/identify.h"
#include <QDialog>

class QTableWidget;

class IdentityDialog : public QDialog {
    Q_OBJECT
public:
    // who: whose identity it is, for the title line; history: this device's earlier
    // calibration records.
    IdentityDialog(const DeviceIdentity& identity, const QString& who,
                   const QList<HistoryRecord>& history, QWidget* parent);
    QTableWidget* table() const { return table_; }
    QTableWidget* history() const { return history_; }

private:
    QTableWidget* table_;
    QTableWidget* history_;
};
