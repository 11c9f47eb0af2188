#include "tools/logbuffer.h"
#include <QtTest>

Q_DECLARE_METATYPE(LogPosition)

namespace {

LogBuffer Filled(const QString& text) {
    LogBuffer buffer;
    buffer.Insert({}, text);
    return buffer;
}

// Every line read back through the line index must match the whole text split at breaks, so a
// stale line start after an edit shows up wherever it is.
void CheckLines(const LogBuffer& buffer, const QString& expected) {
    QCOMPARE(buffer.Text(), expected);
    const QStringList lines = expected.split('\n');
    QCOMPARE(buffer.LineCount(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(buffer.Line(i), lines[i]);
        QCOMPARE(buffer.LineLength(i), lines[i].size());
    }
    QCOMPARE(buffer.End(), (LogPosition{lines.size() - 1, lines.last().size()}));
}

} // namespace

class TestLogBuffer : public QObject {
    Q_OBJECT
private slots:
    void insert_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<LogPosition>("at");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<LogPosition>("after");
        QTest::newRow("into empty") << "" << LogPosition{0, 0} << "abc"
                                    << "abc" << LogPosition{0, 3};
        QTest::newRow("breaks mid-line") << "ab\ncd" << LogPosition{1, 1} << "X\nY"
                                         << "ab\ncX\nYd" << LogPosition{2, 1};
        QTest::newRow("break at a line start") << "ab\ncd\nef" << LogPosition{1, 0} << "\n"
                                               << "ab\n\ncd\nef" << LogPosition{2, 0};
        QTest::newRow("place past the end is clamped") << "ab\ncd" << LogPosition{7, 9} << "Z"
                                                       << "ab\ncdZ" << LogPosition{1, 3};
        QTest::newRow("column past a line end is clamped") << "ab\ncd" << LogPosition{0, 9} << "Z"
                                                           << "abZ\ncd" << LogPosition{0, 3};
        QTest::newRow("CR LF and lone CR") << "" << LogPosition{0, 0} << "a\r\nb\rc"
                                           << "a\nb\nc" << LogPosition{2, 1};
        QTest::newRow("paragraph separator")
            << "x" << LogPosition{0, 1} << QStringLiteral("\u2029y") << "x\ny" << LogPosition{1, 1};
        QTest::newRow("Polish letters kept") << "" << LogPosition{0, 0} << QStringLiteral("źółć €")
                                             << QStringLiteral("źółć €") << LogPosition{0, 6};
        QTest::newRow("outside the code page")
            << "" << LogPosition{0, 0} << QStringLiteral("ж\U0001F600x") << "??x"
            << LogPosition{0, 3};
    }
    void insert() {
        QFETCH(QString, initial);
        QFETCH(LogPosition, at);
        QFETCH(QString, text);
        LogBuffer buffer = Filled(initial);
        const LogPosition after = buffer.Insert(at, text);
        QTEST(after, "after");
        QFETCH(QString, expected);
        CheckLines(buffer, expected);
    }

    void erase_data() {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<LogPosition>("from");
        QTest::addColumn<LogPosition>("to");
        QTest::addColumn<QString>("expected");
        QTest::newRow("across lines")
            << "ab\ncd\nef" << LogPosition{0, 1} << LogPosition{2, 1} << "af";
        QTest::newRow("places in either order")
            << "ab\ncd\nef" << LogPosition{2, 1} << LogPosition{0, 1} << "af";
        QTest::newRow("one break joins two lines")
            << "ab\ncd\nef" << LogPosition{0, 2} << LogPosition{1, 0} << "abcd\nef";
        QTest::newRow("within a line")
            << "abcdef\ngh" << LogPosition{0, 1} << LogPosition{0, 3} << "adef\ngh";
        QTest::newRow("end past the text is clamped")
            << "ab\ncd" << LogPosition{0, 1} << LogPosition{9, 9} << "a";
        QTest::newRow("nothing between the places")
            << "ab\ncd" << LogPosition{1, 1} << LogPosition{1, 1} << "ab\ncd";
        QTest::newRow("everything") << "ab\ncd\n" << LogPosition{0, 0} << LogPosition{2, 0} << "";
    }
    void erase() {
        QFETCH(QString, initial);
        QFETCH(LogPosition, from);
        QFETCH(LogPosition, to);
        QFETCH(QString, expected);
        LogBuffer buffer = Filled(initial);
        buffer.Erase(from, to);
        CheckLines(buffer, expected);
    }

    void textBetweenPlaces() {
        const LogBuffer buffer = Filled("ab\ncd\nef");
        QCOMPARE(buffer.Text({0, 1}, {2, 1}), QStringLiteral("b\ncd\ne"));
        QCOMPARE(buffer.Text({2, 1}, {0, 1}), QStringLiteral("b\ncd\ne"));
        QCOMPARE(buffer.Text({1, 9}, {2, 0}), QStringLiteral("\n"));
    }

    // Appended lines after many edits in the middle: every start behind an edit moved with it.
    void editsInTheMiddleOfAManyLineText() {
        LogBuffer buffer;
        QString expected;
        for (int i = 0; i < 200; ++i) {
            buffer.Insert(buffer.End(), QStringLiteral("line %1\n").arg(i));
            expected += QStringLiteral("line %1\n").arg(i);
        }
        buffer.Insert({50, 4}, u"\nX");
        expected.replace(QStringLiteral("line 50\n"), QStringLiteral("line\nX 50\n"));
        buffer.Erase({10, 0}, {12, 0});
        expected.remove(QStringLiteral("line 10\nline 11\n"));
        CheckLines(buffer, expected);
    }

    void clearLeavesOneEmptyLine() {
        LogBuffer buffer = Filled("a\nb\n");
        buffer.Clear();
        QVERIFY(buffer.IsEmpty());
        CheckLines(buffer, QString());
        buffer.Insert(buffer.End(), u"c\n");
        CheckLines(buffer, "c\n");
    }
};

QTEST_APPLESS_MAIN(TestLogBuffer)
#include "tst_logbuffer.moc"
