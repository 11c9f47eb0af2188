#pragma once
// "Identyfikacja urządzenia": what the device said it is, object by object, and which
// functions answered.
#include "tools/identify.h"
#include <QDialog>

class QTableWidget;

class IdentityDialog : public QDialog {
    Q_OBJECT
public:
    // slave and device: whose identity it is, for the title line.
    IdentityDialog(const DeviceIdentity& identity, const QString& who, QWidget* parent);
    QTableWidget* table() const { return table_; }

private:
    QTableWidget* table_;
};
