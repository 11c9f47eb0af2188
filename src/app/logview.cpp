#include "logview.h"
#include "regmap/cp1250.h"
#include "txn/loglines.h"
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>
#include <array>

namespace {

constexpr int kPadding = 2;        // room for the text cursor left of the first character
constexpr int kTabStopPixels = 80; // the default tab stops of a Qt text box

bool IsWordCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// Text a key press types. Ctrl and Ctrl+Shift are commands; Ctrl+Alt is AltGr on some
// keyboards and types Polish letters.
bool IsTypedText(const QKeyEvent* key) {
    const QString text = key->text();
    if (text.isEmpty()) return false;
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier))
        return false;
    return text.at(0).isPrint() || text.at(0).isHighSurrogate();
}

struct MoveKey {
    QKeySequence::StandardKey move, select;
    int what;
};

} // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_KeyCompression, false);
    setAttribute(Qt::WA_InputMethodEnabled, true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void LogView::AppendLine(const QString& line) {
    const LogPosition end = buffer_.End();
    const bool followEnd = firstVisibleLine() + visibleLineCount() >= buffer_.LineCount();
    const bool caretAtEnd = !hasSelection() && cursor_ == end;
    buffer_.Insert(end, line);
    const LogPosition newEnd = buffer_.Insert(buffer_.End(), u"\n");
    NoteWidth(end.line);
    // A caret at the end moves on with it; a selection keeps its ends, so an appended line
    // is never part of it.
    if (caretAtEnd) cursor_ = anchor_ = newEnd;
    if (followEnd) ScrollTo(MaxTop(), 0); // the newest line from its start
    viewport()->update();
}

void LogView::clear() {
    buffer_.Clear();
    cursor_ = anchor_ = {};
    widest_ = 0;
    goalX_ = -1;
    ScrollTo(0, 0);
    viewport()->update();
    emit edited();
}

void LogView::SetMemoMargins(const QMargins& inset) {
    setViewportMargins(inset);
    clear();
}

void LogView::selectAll() {
    anchor_ = {};
    cursor_ = buffer_.End();
    viewport()->update();
}

void LogView::copy() const {
    if (hasSelection()) QApplication::clipboard()->setText(selectedText());
}

void LogView::setCursorPosition(LogPosition at, bool keepAnchor) {
    cursor_ = buffer_.Clamp(at);
    if (!keepAnchor) anchor_ = cursor_;
    EnsureCursorVisible();
    RestartBlink();
    viewport()->update();
}

qsizetype LogView::firstVisibleLine() const {
    return top_;
}

qsizetype LogView::visibleLineCount() const {
    return std::max(1, viewport()->height() / LineHeight());
}

int LogView::tabStopDistance() const {
    return kTabStopPixels;
}

int LogView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

// Text and line breaks are taken here before the window's shortcuts can claim them.
bool LogView::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsTypedText(key) || key == QKeySequence::Copy || key == QKeySequence::Cut ||
            key == QKeySequence::Paste || key == QKeySequence::SelectAll) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void LogView::keyPressEvent(QKeyEvent* event) {
    if (HandleMoveKey(event) || HandleEditKey(event)) {
        event->accept();
        EnsureCursorVisible();
        RestartBlink();
        viewport()->update();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

bool LogView::HandleMoveKey(QKeyEvent* event) {
    static const std::array<MoveKey, 12> keys = {{
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, int(Move::Right)},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, int(Move::Left)},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, int(Move::Down)},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, int(Move::Up)},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, int(Move::LineStart)},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, int(Move::LineEnd)},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument, int(Move::Top)},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument, int(Move::Bottom)},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, int(Move::PageUp)},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, int(Move::PageDown)},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord, int(Move::WordLeft)},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord, int(Move::WordRight)},
    }};
    for (const MoveKey& key : keys) {
        const bool select = event == key.select;
        if (!select && event != key.move) continue;
        const Move move = static_cast<Move>(key.what);
        const bool vertical = move == Move::Up || move == Move::Down || move == Move::PageUp ||
                              move == Move::PageDown;
        if (!vertical)
            goalX_ = -1;
        else if (goalX_ < 0)
            goalX_ = ColumnX(LaidOut(cursor_.line), cursor_.column);
        cursor_ = Moved(move);
        if (!select) anchor_ = cursor_;
        return true;
    }
    return false;
}

bool LogView::HandleEditKey(QKeyEvent* event) {
    if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::Cut) {
        copy();
        ReplaceSelection(u"");
    } else if (event == QKeySequence::Paste) {
        ReplaceSelection(QApplication::clipboard()->text());
    } else if (event->key() == Qt::Key_Backspace) {
        DeleteOrSelection(Moved(Move::Left));
    } else if (event == QKeySequence::Delete) {
        DeleteOrSelection(Moved(Move::Right));
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        ReplaceSelection(u"\n");
    } else if (event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ControlModifier)) {
        ReplaceSelection(u"\t");
    } else if (IsTypedText(event)) {
        ReplaceSelection(event->text());
    } else {
        return false;
    }
    return true;
}

LogPosition LogView::Moved(Move move) const {
    const LogPosition at = cursor_;
    const QString line = buffer_.Line(at.line);
    const qsizetype last = buffer_.LineCount() - 1;
    const int x = goalX_ >= 0 ? goalX_ : ColumnX(line, at.column);
    auto toLine = [&](qsizetype target) {
        target = std::clamp<qsizetype>(target, 0, last);
        return LogPosition{target, ColumnAt(LaidOut(target), x)};
    };
    switch (move) {
    case Move::Left:
        if (at.column > 0) return {at.line, at.column - 1};
        return at.line > 0 ? LogPosition{at.line - 1, buffer_.LineLength(at.line - 1)} : at;
    case Move::Right:
        if (at.column < line.size()) return {at.line, at.column + 1};
        return at.line < last ? LogPosition{at.line + 1, 0} : at;
    case Move::Up:
        return at.line > 0 ? toLine(at.line - 1) : LogPosition{0, 0};
    case Move::Down:
        return at.line < last ? toLine(at.line + 1) : buffer_.End();
    case Move::PageUp:
        return toLine(at.line - visibleLineCount());
    case Move::PageDown:
        return toLine(at.line + visibleLineCount());
    case Move::LineStart:
        return {at.line, 0};
    case Move::LineEnd:
        return {at.line, line.size()};
    case Move::Top:
        return {};
    case Move::Bottom:
        return buffer_.End();
    case Move::WordLeft: {
        if (at.column == 0) return Moved(Move::Left);
        qsizetype c = at.column;
        while (c > 0 && !IsWordCharacter(line[c - 1]))
            --c;
        while (c > 0 && IsWordCharacter(line[c - 1]))
            --c;
        return {at.line, c};
    }
    case Move::WordRight: {
        if (at.column == line.size()) return Moved(Move::Right);
        qsizetype c = at.column;
        while (c < line.size() && IsWordCharacter(line[c]))
            ++c;
        while (c < line.size() && !IsWordCharacter(line[c]))
            ++c;
        return {at.line, c};
    }
    }
    return at;
}

void LogView::ReplaceSelection(QStringView text) {
    const LogPosition from = std::min(anchor_, cursor_);
    buffer_.Erase(anchor_, cursor_);
    cursor_ = anchor_ = buffer_.Insert(from, text);
    for (qsizetype line = from.line; line <= cursor_.line; ++line)
        NoteWidth(line);
    goalX_ = -1;
    emit edited();
}

void LogView::DeleteOrSelection(LogPosition other) {
    if (!hasSelection()) anchor_ = other;
    ReplaceSelection(u"");
}

void LogView::NoteWidth(qsizetype line) {
    widest_ = std::max(widest_, ColumnX(LaidOut(line), buffer_.LineLength(line)));
}

int LogView::TextRoom() const {
    return std::max(1, viewport()->width() - 2 * kPadding - 1);
}

qsizetype LogView::MaxTop() const {
    return std::max<qsizetype>(0, buffer_.LineCount() - visibleLineCount());
}

void LogView::ScrollTo(qsizetype top, int left) {
    top = std::clamp<qsizetype>(top, 0, MaxTop());
    left = std::clamp(left, 0, std::max(0, widest_ - TextRoom()));
    if (top == top_ && left == left_) return;
    top_ = top;
    left_ = left;
    viewport()->update();
}

void LogView::EnsureCursorVisible() {
    qsizetype top = std::min(top_, cursor_.line);
    top = std::max(top, cursor_.line - visibleLineCount() + 1);
    const int x = ColumnX(LaidOut(cursor_.line), cursor_.column);
    int left = std::min(left_, x);
    left = std::max(left, x - TextRoom());
    ScrollTo(top, left);
}

// What is laid out and drawn of a line: its first kShownCharacters, however long it is.
QString LogView::LaidOut(qsizetype line) const {
    return Cp1250ToString(buffer_.LineBytes(line),
                          std::min(buffer_.LineLength(line), kShownCharacters));
}

int LogView::ColumnX(const QString& text, qsizetype column) const {
    const QFontMetrics metrics = fontMetrics();
    int x = 0;
    for (qsizetype i = 0; i < column && i < text.size(); ++i)
        x = text[i] == u'\t' ? (x / kTabStopPixels + 1) * kTabStopPixels
                             : x + metrics.horizontalAdvance(text[i]);
    return x;
}

qsizetype LogView::ColumnAt(const QString& text, int x) const {
    const QFontMetrics metrics = fontMetrics();
    int left = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int right = text[i] == u'\t' ? (left / kTabStopPixels + 1) * kTabStopPixels
                                           : left + metrics.horizontalAdvance(text[i]);
        if (x < (left + right) / 2) return i;
        left = right;
    }
    return text.size();
}

LogPosition LogView::PositionAt(QPoint point) const {
    const int y = point.y(), height = LineHeight();
    const int row = y >= 0 ? y / height : -1 - (-y - 1) / height; // above the view: negative
    const qsizetype line = std::max<qsizetype>(0, firstVisibleLine() + row);
    if (line >= buffer_.LineCount()) return buffer_.End();
    const int x = point.x() - kPadding + left_;
    return {line, ColumnAt(LaidOut(line), x)};
}

void LogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setFont(font());
    const qsizetype first = firstVisibleLine();
    const qsizetype end = std::min(buffer_.LineCount(), first + visibleLineCount() + 1);
    for (qsizetype line = first; line < end; ++line)
        PaintLine(painter, line, static_cast<int>(line - first) * LineHeight());
}

void LogView::PaintLine(QPainter& painter, qsizetype line, int y) {
    const QString text = LaidOut(line);
    const int left = kPadding - left_;
    const int baseline = y + fontMetrics().ascent();
    auto drawText = [&] {
        qsizetype start = 0;
        while (start < text.size()) {
            qsizetype tab = text.indexOf(u'\t', start);
            if (tab < 0) tab = text.size();
            painter.drawText(left + ColumnX(text, start), baseline, text.mid(start, tab - start));
            start = tab + 1;
        }
    };
    painter.setPen(palette().color(QPalette::Text));
    drawText();
    const LogPosition from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
    if (from != to && from.line <= line && line <= to.line) {
        const int x0 = left + ColumnX(text, line == from.line ? from.column : 0);
        const int x1 = line == to.line
                           ? left + ColumnX(text, to.column)
                           : left + ColumnX(text, text.size()) + fontMetrics().averageCharWidth();
        const QRect selected(x0, y, x1 - x0, LineHeight());
        painter.fillRect(selected, palette().color(QPalette::Highlight));
        painter.save();
        painter.setClipRect(selected);
        painter.setPen(palette().color(QPalette::HighlightedText));
        drawText();
        painter.restore();
    }
    if (line == cursor_.line && hasFocus() && cursorShown_) {
        const int x = left + ColumnX(text, cursor_.column);
        painter.fillRect(QRect(x, y, 1, LineHeight()), palette().color(QPalette::Text));
    }
}

// Text composed by an input method arrives here instead of in key presses.
void LogView::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) {
        ReplaceSelection(event->commitString());
        EnsureCursorVisible();
        viewport()->update();
    }
    event->accept();
}

QVariant LogView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle: {
        const int x = kPadding - left_ + ColumnX(LaidOut(cursor_.line), cursor_.column);
        const int y = static_cast<int>(cursor_.line - top_) * LineHeight();
        return QRect(x, y, 1, LineHeight()).translated(viewport()->pos());
    }
    case Qt::ImCursorPosition:
        return static_cast<int>(cursor_.column);
    case Qt::ImSurroundingText:
        return buffer_.Line(cursor_.line);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    goalX_ = -1;
    setCursorPosition(PositionAt(event->position().toPoint()),
                      event->modifiers() & Qt::ShiftModifier);
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    setCursorPosition(PositionAt(event->position().toPoint()), true);
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const LogPosition at = PositionAt(event->position().toPoint());
    const QString line = buffer_.Line(at.line);
    qsizetype begin = at.column, end = at.column;
    while (begin > 0 && IsWordCharacter(line[begin - 1]))
        --begin;
    while (end < line.size() && IsWordCharacter(line[end]))
        ++end;
    anchor_ = {at.line, begin};
    cursor_ = {at.line, end};
    viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    ScrollTo(top_, left_);
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    RestartBlink();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    blink_.stop();
    viewport()->update();
}

void LogView::RestartBlink() {
    cursorShown_ = true;
    const int period = QApplication::cursorFlashTime() / 2;
    if (hasFocus() && period > 0) blink_.start(period, this);
}

void LogView::timerEvent(QTimerEvent* event) {
    if (event->timerId() != blink_.timerId()) return QAbstractScrollArea::timerEvent(event);
    cursorShown_ = !cursorShown_;
    viewport()->update();
}

void LogView::wheelEvent(QWheelEvent* event) {
    const QPoint steps = event->angleDelta() / 120;
    const int linesPerStep = QApplication::wheelScrollLines();
    ScrollTo(top_ - steps.y() * linesPerStep, left_ - steps.x() * linesPerStep * LineHeight());
    event->accept();
}
