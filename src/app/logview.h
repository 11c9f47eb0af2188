#pragma once
// The log window's text box: an editable, unwrapped text without scroll bars that keeps its
// text in a LogBuffer and lays out only the lines in view, so a log of any length costs the
// same per appended line and little more memory than its characters.
#include "tools/logbuffer.h"
#include <QAbstractScrollArea>
#include <QBasicTimer>

class QKeyEvent;

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent = nullptr);

    // Appends the line followed by a line break at the end of the text. The view keeps
    // following the end while the last line is in sight.
    void AppendLine(const QString& line);
    QString toPlainText() const { return buffer_.Text(); }
    const LogBuffer& buffer() const { return buffer_; }
    void clear();
    // Insets the text area inside the box and empties it.
    void SetMemoMargins(const QMargins& inset);

    void selectAll();
    QString selectedText() const { return buffer_.Text(anchor_, cursor_); }
    bool hasSelection() const { return anchor_ != cursor_; }
    void copy() const;
    LogPosition cursorPosition() const { return cursor_; }
    void setCursorPosition(LogPosition at, bool keepAnchor = false);
    qsizetype firstVisibleLine() const;
    int horizontalOffset() const { return left_; } // pixels scrolled to the right
    qsizetype visibleLineCount() const;
    int tabStopDistance() const;

signals:
    // The operator changed the text (typed, deleted, pasted) or it was cleared; appended
    // lines do not count.
    void edited();

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool) override { return false; } // Tab is typed, not a move
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    enum class Move {
        Left,
        Right,
        Up,
        Down,
        LineStart,
        LineEnd,
        Top,
        Bottom,
        PageUp,
        PageDown,
        WordLeft,
        WordRight
    };

    bool HandleEditKey(QKeyEvent* event);
    bool HandleMoveKey(QKeyEvent* event);
    LogPosition Moved(Move move) const;
    void ReplaceSelection(QStringView text);
    void DeleteOrSelection(LogPosition other);
    int TextRoom() const;
    qsizetype MaxTop() const;
    void ScrollTo(qsizetype top, int left);
    void EnsureCursorVisible();
    void NoteWidth(qsizetype line);
    void RestartBlink();

    QString LaidOut(qsizetype line) const;
    int LineHeight() const;
    int ColumnX(const QString& text, qsizetype column) const;
    qsizetype ColumnAt(const QString& text, int x) const;
    LogPosition PositionAt(QPoint point) const;
    void PaintLine(QPainter& painter, qsizetype line, int y);

    LogBuffer buffer_;
    LogPosition cursor_, anchor_;
    qsizetype top_ = 0; // first line in view
    int left_ = 0;      // pixels scrolled to the right
    int goalX_ = -1;    // x kept while moving up and down
    int widest_ = 0;    // widest line seen since the last clear, in pixels
    bool cursorShown_ = true;
    QBasicTimer blink_;
};
