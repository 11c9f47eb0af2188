#pragma once
// "Wykres – NAME": a separate window that plots one register's valid values against time,
// live, with their statistics, a light that says when the reading has settled, and the
// values for a spreadsheet.
#include "tools/trend.h"
#include <QWidget>
#include <functional>

class QChart;
class QChartView;
class QDateTimeAxis;
class QFrame;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QValueAxis;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendWindow(const QString& registerName, QWidget* parent = nullptr);

    void AddValue(const QDateTime& time, double value);
    void AddValue(qint64 msecsSinceEpoch, double value);
    void AddFailure(const QDateTime& time);

    const TrendSeries& series() const { return series_; }
    TrendStatistics statistics() const;
    Stability stability() const;
    // Where "Zapisz CSV…" and "Zapisz obraz…" save, from a suggested file name; replaceable by
    // tests. Empty: cancelled.
    std::function<QString(const QString& caption, const QString& filter, const QString& name)>
        askSavePath;
    // An error box; replaceable by tests.
    std::function<void(const QString& text)> messageSink;
    // Draws the chart again now (normally a timer does, a few times a second).
    void Refresh();

    QLineEdit* eLast = nullptr;    // N: the newest values the statistics cover
    QLineEdit* eSeconds = nullptr; // T: the span the light looks at
    QLineEdit* eBand = nullptr;    // B: the band around the mean; empty is 0.1 % of it
    QPushButton* btFollow = nullptr;
    QPushButton* btCsv = nullptr;
    QPushButton* btImage = nullptr;
    QFrame* shStable = nullptr;
    QLabel* lbStable = nullptr; // "stabilny", "niestabilny" or "nieznany"

private:
    void BuildChart();
    QWidget* BuildPanel();
    void ShowStatistics();
    void ShowStability();
    QString SuggestedName(const QString& extension) const;
    QString AskPath(const QString& caption, const QString& filter, const QString& extension) const;
    void SaveCsv();
    void SaveImage();
    void Follow(bool on);
    int Number(QLineEdit* edit, int fallback) const;
    double Real(QLineEdit* edit, double fallback) const;

    TrendSeries series_;
    QString registerName_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QLineSeries* line_ = nullptr;
    QScatterSeries* failures_ = nullptr;  // failed reads, red dots on the time axis
    QScatterSeries* notFinite_ = nullptr; // NaN and ±Inf readings, orange squares there
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
    QList<QLabel*> figures_;
    bool following_ = true;
    bool changed_ = false;
    bool refreshing_ = false; // the axis moves because the window moved it
};
