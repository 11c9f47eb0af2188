#include "app/logview.h"
#include <QtTest>
#include <QtWidgets>

Q_DECLARE_METATYPE(LogPosition)

namespace {

// Plays a key script on the view: plain characters are typed, <Name> presses a key and a
// prefix of S-, C- or CS- adds Shift, Ctrl or both.
void Play(QWidget* view, const QString& script) {
    static const QHash<QString, Qt::Key> keys = {{"Tab", Qt::Key_Tab},
                                                 {"Enter", Qt::Key_Return},
                                                 {"Back", Qt::Key_Backspace},
                                                 {"Del", Qt::Key_Delete},
                                                 {"Left", Qt::Key_Left},
                                                 {"Right", Qt::Key_Right},
                                                 {"Up", Qt::Key_Up},
                                                 {"Down", Qt::Key_Down},
                                                 {"Home", Qt::Key_Home},
                                                 {"End", Qt::Key_End},
                                                 {"a", Qt::Key_A},
                                                 {"c", Qt::Key_C},
                                                 {"x", Qt::Key_X},
                                                 {"v", Qt::Key_V},
                                                 {"z", Qt::Key_Z},
                                                 {"PgUp", Qt::Key_PageUp},
                                                 {"PgDown", Qt::Key_PageDown}};
    for (qsizetype i = 0; i < script.size(); ++i) {
        if (script[i] != '<') {
            QTest::keyClick(view, script[i].toLatin1());
            continue;
        }
        const qsizetype close = script.indexOf('>', i);
        QString name = script.mid(i + 1, close - i - 1);
        Qt::KeyboardModifiers modifiers;
        if (name.startsWith("CS-"))
            modifiers = Qt::ControlModifier | Qt::ShiftModifier;
        else if (name.startsWith("C-"))
            modifiers = Qt::ControlModifier;
        else if (name.startsWith("S-"))
            modifiers = Qt::ShiftModifier;
        name = name.mid(name.indexOf('-') + 1);
        QVERIFY2(keys.contains(name), qPrintable(name));
        QTest::keyClick(view, keys[name], modifiers);
        i = close;
    }
}

void Fill(LogView& view, const QString& text) {
    view.clear();
    const QStringList lines = text.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        view.AppendLine(lines[i]);
    view.setCursorPosition(view.buffer().End());
    Play(&view, lines.last()); // an unfinished last line is typed
}

} // namespace

class TestLogView : public QObject {
    Q_OBJECT
    QWidget window;
    LogView* view = nullptr;
    QLineEdit* other = nullptr;

private slots:
    void initTestCase() {
        view = new LogView(&window);
        view->setGeometry(0, 0, 280, 300);
        other = new QLineEdit(&window);
        other->setGeometry(0, 310, 100, 20);
        window.show();
        view->setFocus();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    void keys_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<LogPosition>("cursor");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<LogPosition>("after");
        QTest::newRow("typing, Tab and Enter") << "" << LogPosition{0, 0} << "ab<Tab>c<Enter>d"
                                               << "ab\tc\nd" << LogPosition{1, 1};
        QTest::newRow("Backspace at a line start joins the lines") << "ab\ncd\n"
                                                                   << LogPosition{1, 0} << "<Back>"
                                                                   << "abcd\n"
                                                                   << LogPosition{0, 2};
        QTest::newRow("Delete at a line end joins the lines") << "ab\ncd\n"
                                                              << LogPosition{0, 2} << "<Del>"
                                                              << "abcd\n"
                                                              << LogPosition{0, 2};
        QTest::newRow("Backspace at the very start does nothing") << "ab\n"
                                                                  << LogPosition{0, 0} << "<Back>"
                                                                  << "ab\n"
                                                                  << LogPosition{0, 0};
        QTest::newRow("a selection is replaced by what is typed")
            << "abcdef\n"
            << LogPosition{0, 5} << "<S-Left><S-Left><S-Left>X"
            << "abXf\n"
            << LogPosition{0, 3};
        QTest::newRow("a selection across lines is deleted")
            << "ab\ncd\nef\n"
            << LogPosition{0, 1} << "<S-Down><S-Down><Del>"
            << "af\n"
            << LogPosition{0, 1};
        QTest::newRow("Up and Down keep the column over a short line")
            << "abcdef\nab\nabcdef\n"
            << LogPosition{0, 5} << "<Down><Down>Z"
            << "abcdef\nab\nabcdeZf\n"
            << LogPosition{2, 6};
        QTest::newRow("Home and End") << "abc\n"
                                      << LogPosition{0, 1} << "<End>X<Home>Y"
                                      << "YabcX\n"
                                      << LogPosition{0, 1};
        QTest::newRow("Ctrl+Home and Ctrl+End") << "ab\ncd\n"
                                                << LogPosition{1, 1} << "<C-Home>X<C-End>Y"
                                                << "Xab\ncd\nY" << LogPosition{2, 1};
        QTest::newRow("Ctrl+A then typing replaces everything") << "ab\ncd\n"
                                                                << LogPosition{1, 1} << "<C-a>Q"
                                                                << "Q" << LogPosition{0, 1};
        QTest::newRow("Ctrl+X then Ctrl+V puts the text back")
            << "ab\ncd\n"
            << LogPosition{0, 0} << "<S-Down><C-x><C-End><C-v>"
            << "cd\nab\n"
            << LogPosition{2, 0};
        QTest::newRow("Ctrl with a letter types nothing") << "ab\n"
                                                          << LogPosition{1, 0} << "<C-z><C-z><CS-z>"
                                                          << "ab\n"
                                                          << LogPosition{1, 0};
        QTest::newRow("Page Down stops at the last line") << "a\nb\nc\n"
                                                          << LogPosition{0, 1} << "<PgDown>X"
                                                          << "a\nb\nc\nX" << LogPosition{3, 1};
    }
    void keys() {
        QFETCH(QString, initial);
        QFETCH(LogPosition, cursor);
        QFETCH(QString, script);
        Fill(*view, initial);
        view->setCursorPosition(cursor);
        Play(view, script);
        QTEST(view->toPlainText(), "expected");
        QTEST(view->cursorPosition(), "after");
        QVERIFY(view->hasFocus()); // Tab is typed into the log, it does not move the focus
    }

    void inputMethodTextReplacesTheSelection() {
        Fill(*view, "abc\n");
        view->setCursorPosition({0, 1});
        view->setCursorPosition({0, 3}, true);
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("ąę"));
        QApplication::sendEvent(view, &composed);
        QCOMPARE(view->toPlainText(), QStringLiteral("aąę\n"));
        QCOMPARE(view->cursorPosition(), (LogPosition{0, 3}));
    }

    void copyPutsTheSelectionOnTheClipboard() {
        Fill(*view, "ab\ncd\n");
        QApplication::clipboard()->setText("before");
        view->setCursorPosition({0, 1});
        Play(view, "<C-c>"); // nothing selected: the clipboard stays
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        Play(view, "<S-Down><C-c>");
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("b\nc"));
        view->selectAll();
        Play(view, "<C-c>");
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("ab\ncd\n"));
    }

    // The view follows the end while the last line is in sight, and stays where the operator
    // scrolled to otherwise; a cursor at the end moves with the appended lines.
    void appendedLinesAndTheView() {
        view->clear();
        const qsizetype inView = view->visibleLineCount();
        QVERIFY(inView > 3);
        for (qsizetype i = 0; i < 3 * inView; ++i)
            view->AppendLine(QString::number(i));
        QCOMPARE(view->firstVisibleLine(), 2 * inView + 1);
        QCOMPARE(view->cursorPosition(), view->buffer().End());
        view->setCursorPosition({5, 0});
        QCOMPARE(view->firstVisibleLine(), 5);
        view->AppendLine("more");
        QCOMPARE(view->firstVisibleLine(), 5);
        QCOMPARE(view->cursorPosition(), (LogPosition{5, 0}));
        QWheelEvent wheel(QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &wheel);
        QCOMPARE(view->firstVisibleLine(), 5 + QApplication::wheelScrollLines());
    }

    // "Kopiuj" selects everything; lines appended later are not part of that selection.
    void appendedLinesStayOutOfASelection() {
        Fill(*view, "a\nb\n");
        view->selectAll();
        view->AppendLine("c");
        QCOMPARE(view->selectedText(), QStringLiteral("a\nb\n"));
    }

    // Scrolled sideways to the end of a long line, the view shows the newest line from its
    // start when one is appended.
    void appendingShowsTheNewLineFromItsStart() {
        view->clear();
        view->AppendLine(QString(200, 'x'));
        view->setFocus();
        view->setCursorPosition({0, 0});
        QTest::keyClick(view, Qt::Key_End);
        QVERIFY(view->horizontalOffset() > 0);
        view->AppendLine("nowa");
        QCOMPARE(view->horizontalOffset(), 0);
    }

    void mouseClickAndShiftClick() {
        Fill(*view, "first line\nsecond line\n");
        const int lineHeight = view->fontMetrics().lineSpacing();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(1, lineHeight / 2));
        QCOMPARE(view->cursorPosition(), (LogPosition{0, 0}));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          QPoint(270, lineHeight + lineHeight / 2));
        QCOMPARE(view->cursorPosition(), (LogPosition{1, 11}));
        QCOMPARE(view->selectedText(), QStringLiteral("first line\nsecond line"));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(1, 250));
        QCOMPARE(view->cursorPosition(), view->buffer().End()); // below the text
    }

    void tabStopsLineUpTheColumns() {
        Fill(*view, "ab\t2x\nabcd\t2y\n");
        QImage image(view->viewport()->size(), QImage::Format_RGB32);
        view->viewport()->render(&image);
        QCOMPARE(view->tabStopDistance() % 10, 0);
        // the first dark pixel right of the tab stop in both lines starts the second column
        auto firstInk = [&](int line) {
            const int y0 = line * view->fontMetrics().lineSpacing();
            for (int x = view->tabStopDistance(); x < image.width(); ++x)
                for (int y = y0; y < y0 + view->fontMetrics().lineSpacing(); ++y)
                    if (qGray(image.pixel(x, y)) < 128) return x;
            return -1;
        };
        QVERIFY(firstInk(0) >= view->tabStopDistance());
        QCOMPARE(firstInk(0), firstInk(1));
    }
};

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
