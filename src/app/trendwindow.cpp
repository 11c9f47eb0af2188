#include "trendwindow.h"
#include "guarded.h"
#include "regmap/error.h"
#include "regmap/record.h"
#include "tools/logfile.h"
#include "txn/numbers.h"
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <optional>

namespace {
constexpr qint64 kShownSpanMs = 60 * 1000; // following: the newest minute

const char* const kFigureNames[] = {"Liczba",   "Średnia", "Odch. std.", "Minimum",
                                    "Maksimum", "Rozstęp", "Nieudane",   "NaN/Inf"};

// Drag to zoom in on a span (the rubber band), drag with the right button to move along the
// time, the wheel to zoom in or out around the pointer, Left and Right to move by a tenth.
class TrendChartView : public QChartView {
public:
    explicit TrendChartView(QChart* chart) : QChartView(chart) {
        setRubberBand(QChartView::HorizontalRubberBand);
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::RightButton) return QChartView::mousePressEvent(event);
        panningFrom_ = event->position();
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!panningFrom_) return QChartView::mouseMoveEvent(event);
        chart()->scroll(panningFrom_->x() - event->position().x(), 0);
        panningFrom_ = event->position();
        event->accept();
    }
    // The right button moves the chart; it no longer zooms out as the rubber band's does.
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::RightButton) return QChartView::mouseReleaseEvent(event);
        panningFrom_.reset();
        event->accept();
    }
    void wheelEvent(QWheelEvent* event) override {
        const double factor = event->angleDelta().y() > 0 ? 1.25 : 0.8;
        const QRectF area = chart()->plotArea();
        const double x = std::clamp(event->position().x(), area.left(), area.right());
        QRectF shown = area;
        shown.setWidth(area.width() / factor);
        shown.moveLeft(x - (x - area.left()) / factor);
        chart()->zoomIn(shown);
        event->accept();
    }
    void keyPressEvent(QKeyEvent* event) override {
        const double tenth = chart()->plotArea().width() / 10;
        if (event->key() == Qt::Key_Left)
            chart()->scroll(-tenth, 0);
        else if (event->key() == Qt::Key_Right)
            chart()->scroll(tenth, 0);
        else
            return QChartView::keyPressEvent(event);
        event->accept();
    }

private:
    std::optional<QPointF> panningFrom_;
};

void Fill(QFrame* light, const QColor& colour) {
    QPalette palette = light->palette();
    palette.setColor(QPalette::Window, colour);
    light->setPalette(palette);
}
} // namespace

TrendWindow::TrendWindow(const QString& registerName, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Wykres"));
    setWindowTitle(QStringLiteral("Wykres – ") + registerName);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(820, 420);
    askSavePath = [this](const QString& caption, const QString& filter, const QString& name) {
        return QFileDialog::getSaveFileName(this, caption, name, filter);
    };
    messageSink = [this](const QString& text) {
        QMessageBox::critical(this, QStringLiteral("vardel"), text);
    };
    registerName_ = registerName;
    BuildChart();
    chart_->setTitle(registerName); // the saved picture says what it shows
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addWidget(BuildPanel());
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] {
        if (changed_)
            Refresh();
        else
            ShowStability(); // values that stop coming make the light unknown
    });
    timer->start(250);
    Refresh();
}

void TrendWindow::BuildChart() {
    chart_ = new QChart;
    chart_->legend()->hide();
    // The axis shows numbers as the rest of the window does: decimal comma, no grouping.
    QLocale comma(QLocale::Polish, QLocale::Poland);
    comma.setNumberOptions(QLocale::OmitGroupSeparator);
    chart_->setLocale(comma);
    chart_->setLocalizeNumbers(true);
    line_ = new QLineSeries;
    failures_ = new QScatterSeries;
    failures_->setMarkerSize(7);
    failures_->setColor(QColor(200, 0, 0));
    notFinite_ = new QScatterSeries;
    notFinite_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    notFinite_->setMarkerSize(8);
    notFinite_->setColor(QColor(240, 140, 0));
    chart_->addSeries(line_);
    chart_->addSeries(failures_);
    chart_->addSeries(notFinite_);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    valueAxis_ = new QValueAxis;
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    for (auto* s : {static_cast<QAbstractSeries*>(line_), static_cast<QAbstractSeries*>(failures_),
                    static_cast<QAbstractSeries*>(notFinite_)}) {
        s->attachAxis(timeAxis_);
        s->attachAxis(valueAxis_);
    }
    view_ = new TrendChartView(chart_);
    view_->setRenderHint(QPainter::Antialiasing, false);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] {
        if (refreshing_) return;
        // The operator zoomed or moved: the span shown is decimated again at the next tick.
        changed_ = true;
        if (following_) Follow(false);
    });
}

QWidget* TrendWindow::BuildPanel() {
    auto* panel = new QWidget;
    auto* column = new QVBoxLayout(panel);
    auto* form = new QFormLayout;
    eLast = new QLineEdit(QStringLiteral("20"));
    eSeconds = new QLineEdit(QStringLiteral("10"));
    eBand = new QLineEdit;
    eBand->setPlaceholderText(QStringLiteral("0,1 % średniej"));
    form->addRow(QStringLiteral("Ostatnie N:"), eLast);
    for (const char* name : kFigureNames) {
        auto* figure = new QLabel(QStringLiteral("-"));
        figure->setObjectName(QString::fromUtf8(name));
        figures_ << figure;
        form->addRow(QString::fromUtf8(name) + ':', figure);
    }
    form->addRow(QStringLiteral("T [s]:"), eSeconds);
    form->addRow(QStringLiteral("±B:"), eBand);
    shStable = new QFrame;
    shStable->setObjectName(QStringLiteral("shStable"));
    shStable->setFixedSize(36, 18);
    shStable->setAutoFillBackground(true);
    shStable->setFrameShape(QFrame::Box);
    lbStable = new QLabel(QStringLiteral("nieznany"));
    lbStable->setObjectName(QStringLiteral("lbStable"));
    auto* light = new QHBoxLayout;
    light->addWidget(shStable);
    light->addWidget(lbStable, 1);
    form->addRow(QStringLiteral("Stabilny:"), light);
    column->addLayout(form);
    btFollow = new QPushButton(QStringLiteral("Śledź najnowsze"));
    btFollow->setEnabled(false); // a new window follows the newest values
    btCsv = new QPushButton(QStringLiteral("Zapisz CSV…"));
    btImage = new QPushButton(QStringLiteral("Zapisz obraz…"));
    for (QPushButton* b : {btFollow, btCsv, btImage})
        column->addWidget(b);
    column->addStretch();
    for (QLineEdit* e : {eLast, eSeconds, eBand})
        connect(e, &QLineEdit::textChanged, this, [this] { ShowStatistics(); });
    connect(btFollow, &QPushButton::clicked, this, [this] { Follow(true); });
    connect(btCsv, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SaveCsv(); }, messageSink); });
    connect(btImage, &QPushButton::clicked, this,
            [this] { RunGuarded([this] { SaveImage(); }, messageSink); });
    return panel;
}

void TrendWindow::AddValue(const QDateTime& time, double value) {
    AddValue(time.toMSecsSinceEpoch(), value);
}

void TrendWindow::AddValue(qint64 msecsSinceEpoch, double value) {
    series_.AddValue(msecsSinceEpoch, value);
    changed_ = true;
}

void TrendWindow::AddFailure(const QDateTime& time) {
    series_.AddFailure(time.toMSecsSinceEpoch());
    changed_ = true;
}

int TrendWindow::Number(QLineEdit* edit, int fallback) const {
    bool ok = false;
    const int n = edit->text().trimmed().toInt(&ok);
    return ok && n > 0 ? n : fallback;
}

// A typed number; the fallback for an empty, unreadable or infinite one.
double TrendWindow::Real(QLineEdit* edit, double fallback) const {
    try {
        const double value =
            edit->text().trimmed().isEmpty() ? fallback : double(ParseReal(edit->text()));
        return std::isfinite(value) ? value : fallback;
    } catch (const AppError&) {
        return fallback;
    }
}

TrendStatistics TrendWindow::statistics() const {
    return series_.Statistics(Number(eLast, 20));
}

Stability TrendWindow::stability() const {
    const double seconds = Real(eSeconds, 10);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    return series_.StabilityOver(seconds, Real(eBand, series_.DefaultBand(seconds, now)), now);
}

void TrendWindow::ShowStatistics() {
    const TrendStatistics s = statistics();
    const QString texts[] = {QString::number(s.count),    FormatFixed(s.mean, 3),
                             FormatFixed(s.deviation, 3), FormatFixed(s.minimum, 3),
                             FormatFixed(s.maximum, 3),   FormatFixed(s.span, 3),
                             QString::number(s.failed),   QString::number(s.notFinite)};
    for (int i = 0; i < figures_.size(); ++i)
        figures_[i]->setText(s.count == 0 && i > 0 && i < 6 ? QStringLiteral("-") : texts[i]);
    ShowStability();
}

void TrendWindow::ShowStability() {
    const Stability state = stability();
    Fill(shStable, state == Stability::Stable     ? QColor(0, 200, 0)
                   : state == Stability::Unstable ? QColor(220, 0, 0)
                                                  : QColor(160, 160, 160));
    lbStable->setText(state == Stability::Stable     ? QStringLiteral("stabilny")
                      : state == Stability::Unstable ? QStringLiteral("niestabilny")
                                                     : QStringLiteral("nieznany"));
}

// A name to start from: the register and the time, in characters every file system takes.
QString TrendWindow::SuggestedName(const QString& extension) const {
    QString name = QStringLiteral("wykres_") + registerName_ + '_' +
                   QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    for (QChar& c : name)
        if (!c.isLetterOrNumber() && c != '-' && c != '_') c = '_';
    return name.left(120) + extension;
}

// The dialog's answer with the extension added when the operator typed none.
QString TrendWindow::AskPath(const QString& caption, const QString& filter,
                             const QString& extension) const {
    QString path = askSavePath(caption, filter, SuggestedName(extension));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += extension;
    return path;
}

// A day of values draws as a few thousand points: minimum and maximum per pixel column.
void TrendWindow::Refresh() {
    changed_ = false;
    refreshing_ = true;
    const std::vector<qint64>& times = series_.times();
    qint64 from = 0, to = 0;
    if (following_ && !times.empty()) {
        to = times.back();
        from = std::max(times.front(), to - kShownSpanMs);
        timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from),
                            QDateTime::fromMSecsSinceEpoch(to + 1));
    } else {
        from = timeAxis_->min().toMSecsSinceEpoch();
        to = timeAxis_->max().toMSecsSinceEpoch();
    }
    const int columns = std::max(1, int(chart_->plotArea().width()));
    const QList<QPointF> points = series_.Decimated(from, to, columns);
    line_->replace(points);
    double low = 0, high = 1;
    if (!points.isEmpty()) {
        low = high = points.first().y();
        for (const QPointF& p : points) {
            low = std::min(low, p.y());
            high = std::max(high, p.y());
        }
    }
    // A tenth of the spread above and below; a flat line gets 1 % of its value (at least 0,5).
    const double margin = high > low ? (high - low) * 0.1 : std::max(std::fabs(high) * 0.01, 0.5);
    valueAxis_->setRange(low - margin, high + margin);
    valueAxis_->applyNiceNumbers(); // ticks at round values
    QList<QPointF> marks;
    for (qint64 t : series_.failures())
        if (t >= from && t <= to) marks << QPointF(double(t), low - margin);
    failures_->replace(marks);
    QList<QPointF> notFinite;
    for (qint64 t : series_.notFiniteTimes())
        if (t >= from && t <= to) notFinite << QPointF(double(t), low - margin);
    notFinite_->replace(notFinite);
    refreshing_ = false;
    ShowStatistics();
}

void TrendWindow::Follow(bool on) {
    following_ = on;
    btFollow->setEnabled(!on);
    if (on) Refresh();
}

void TrendWindow::SaveCsv() {
    const QString path = AskPath(QStringLiteral("Zapisz CSV"), QStringLiteral("CSV (*.csv)"),
                                 QStringLiteral(".csv"));
    if (path.isEmpty()) return;
    SaveFileSafely(path, series_.Csv());
}

void TrendWindow::SaveImage() {
    const QString path = AskPath(QStringLiteral("Zapisz obraz"), QStringLiteral("PNG (*.png)"),
                                 QStringLiteral(".png"));
    if (path.isEmpty()) return;
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    if (!view_->grab().save(&png, "PNG"))
        throw AppError(
            QString::fromUtf8("Nie można utworzyć obrazu wykresu dla pliku \"%1\".").arg(path));
    SaveFileSafely(path, png.data());
}
