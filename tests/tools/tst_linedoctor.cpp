#include "tools/linedoctor.h"
#include "txn/builders.h"
#include "txn/fakes.h"
#include <QtTest>

namespace {

// A device that answers at one setting and one address, behind an adapter that may echo.
struct Line {
    ScriptedLink link;
    QString settings = QStringLiteral("19200,e,8,1");
    bool echoes = false, echoRemoved = false;
    QString answersAt;
    int answersSlave = 5;
    QStringList applied;

    Line() {
        link.script = [this](const QByteArray& request) {
            link.lastReplyMs = 2.5;
            const QByteArray echo = echoes && !echoRemoved ? request : QByteArray();
            if (settings != answersAt || quint8(request[0]) != answersSlave) return echo;
            return echo.isEmpty() ? Answer(request, {7}) : echo;
        };
    }
    DoctorLine Doctor() {
        return DoctorLine{link,
                          [this](const QString& s) {
                              applied << s;
                              settings = s;
                              return true;
                          },
                          [this](bool on) { echoRemoved = on; }, settings, echoRemoved};
    }
};

RequestFrame ProbeOf(int slave) {
    const RegisterNode reg{"Wersja", {}, "200", "WORD", "1", "RO", {}};
    return BuildReadRequest(reg, QString::number(slave));
}

} // namespace

class TestLineDoctor : public QObject {
    Q_OBJECT
private slots:
    void addresses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("first");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty: 247 first") << "" << true << 247 << 247 << "1-247";
        QTest::newRow("one") << " 5 " << true << 1 << 5 << "5";
        QTest::newRow("range") << "1-10" << true << 10 << 1 << "1-10";
        QTest::newRow("spaced range") << "3 - 4" << true << 2 << 3 << "3-4";
        QTest::newRow("a single-address range") << "7-7" << true << 1 << 7 << "7";
        QTest::newRow("zero") << "0" << false << 0 << 0 << "";
        QTest::newRow("past 247") << "240-248" << false << 0 << 0 << "";
        QTest::newRow("backwards") << "9-3" << false << 0 << 0 << "";
        QTest::newRow("a word") << "abc" << false << 0 << 0 << "";
        QTest::newRow("a list") << "1,3" << false << 0 << 0 << "";
    }
    void addresses() {
        QFETCH(QString, text);
        QString shown;
        const std::optional<QList<int>> a = DoctorAddressesOf(text, shown);
        QTEST(a.has_value(), "valid");
        if (!a) return;
        QTEST(int(a->size()), "count");
        QTEST(a->first(), "first");
        QTEST(shown, "shown");
        QCOMPARE(QSet<int>(a->begin(), a->end()).size(), a->size()); // each address once
    }

    // The doctor finds the one setting and address, asks the other settings at that address
    // alone, names an echo, and leaves the line as it found it.
    void findsTheSettingAndRestoresTheLine_data() {
        QTest::addColumn<QString>("answersAt");
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<int>("requests");
        QTest::newRow("at the given setting") << "19200,e,8,1" << false << 5 + 23 + 20;
        QTest::newRow("4800 odd") << "4800,o,8,1" << false << 0;
        QTest::newRow("behind an echoing adapter") << "9600,n,8,2" << true << 0;
        QTest::newRow("nowhere") << "" << false << 24 * 6;
    }
    void findsTheSettingAndRestoresTheLine() {
        QFETCH(QString, answersAt);
        QFETCH(bool, echoes);
        QFETCH(int, requests);
        Line line;
        line.answersAt = answersAt;
        line.echoes = echoes;
        LineDoctor doctor(line.Doctor(), ProbeOf);
        QList<DoctorFindings::Answer> heard;
        doctor.answered = [&](const DoctorFindings::Answer& a) { heard << a; };
        DoctorFindings f;
        f.given = {"19200", "even"};
        doctor.Run(f, {1, 2, 3, 4, 5, 6});
        QCOMPARE(line.settings, QStringLiteral("19200,e,8,1"));
        QCOMPARE(line.echoRemoved, false);
        QCOMPARE(f.settingsTried, 24);
        QCOMPARE(f.echo, echoes);
        if (answersAt.isEmpty()) {
            QVERIFY(heard.isEmpty());
            QCOMPARE(line.link.requests.size(), requests);
            return;
        }
        QCOMPARE(heard.size(), 1);
        QCOMPARE(LineTryText(heard[0].line), answersAt);
        QCOMPARE(heard[0].slave, 5);
        QCOMPARE(f.times.count, 20);
        QCOMPARE(f.reads, 20);
        if (requests > 0) QCOMPARE(line.link.requests.size(), requests);
        for (const QByteArray& request : line.link.requests) // reads of the probe only
            QCOMPARE(request.mid(1, 3).toHex(), QByteArray("0400c8"));
    }

    // A stop ends the run within one request; the line still runs as before.
    void stopEndsTheRun() {
        Line line;
        LineDoctor doctor(line.Doctor(), ProbeOf);
        doctor.stopped = [&] { return line.link.requests.size() >= 3; };
        DoctorFindings f;
        f.given = {"19200", "even"};
        doctor.Run(f, {1, 2, 3, 4, 5, 6});
        QCOMPARE(line.link.requests.size(), 3);
        QCOMPARE(line.settings, QStringLiteral("19200,e,8,1"));
    }

    // The advice names vardelctl's options on the command line and the window's controls in
    // the window.
    void adviceNamesTheControls_data() {
        QTest::addColumn<int>("audience");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("never");
        QTest::newRow("command line")
            << int(DoctorAudience::CommandLine)
            << QStringList{"użyj --baud 4800 --parity odd.", "użyj --echo", "spróbuj --timeout 80."}
            << "Ustawieniach łącza";
        QTest::newRow("window")
            << int(DoctorAudience::Window)
            << QStringList{"Ustawienia okna (19200,e,8,1) są inne: Szybkość 4800, Parzystość odd.",
                           "zaznacz \"Usuwaj echo przejściówki\"",
                           "spróbuj czasu oczekiwania 80 ms w Ustawieniach łącza."}
            << "--";
    }
    void adviceNamesTheControls() {
        QFETCH(int, audience);
        QFETCH(QStringList, said);
        QFETCH(QString, never);
        DoctorFindings f;
        f.given = {"19200", "even"};
        f.settingsTried = 24;
        f.answered << DoctorFindings::Answer{{"4800", "odd"}, 5};
        f.echo = true;
        f.reads = 20;
        f.times = TimesOf(QList<double>(18, 30.0));
        f.wireMs = 16;
        const QString verdict = DoctorVerdict(f, DoctorAudience(audience)).join('\n');
        for (const QString& words : said)
            QVERIFY2(verdict.contains(words), qPrintable(verdict));
        QVERIFY2(!verdict.contains(never), qPrintable(verdict));
    }
};

QTEST_GUILESS_MAIN(TestLineDoctor)
#include "tst_linedoctor.moc"
