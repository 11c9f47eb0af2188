#pragma once
// "Ustawienia łącza…": what a line beyond the ordinary needs, beside the Połączenie group.
// Like every control it starts with its defaults at each start; nothing is stored.
#include <QDialog>
#include <QString>

class QCheckBox;
class QSpinBox;

struct LineOptions {
    static constexpr int kDefaultTimeoutMs = 40; // the read window of an ordinary line
    int timeoutMs = kDefaultTimeoutMs;
    bool removeEcho = false; // drop an echoing adapter's copy of each request
    bool rs485 = false;      // turn a half-duplex RS-485 line to send for each request

    bool isDefault() const { return timeoutMs == kDefaultTimeoutMs && !removeEcho && !rs485; }
    // What is not default, in Polish: "czas odpowiedzi 400 ms, usuwanie echa"; empty when
    // everything is.
    QString Changes() const;
    bool operator==(const LineOptions&) const = default;
};

class LineDialog : public QDialog {
    Q_OBJECT
public:
    // statistics: the line's request counts and times, shown as they stand.
    LineDialog(const LineOptions& options, const QString& statistics, QWidget* parent);
    LineOptions options() const;

private:
    QSpinBox* timeout_;
    QCheckBox* echo_;
    QCheckBox* rs485_;
};
