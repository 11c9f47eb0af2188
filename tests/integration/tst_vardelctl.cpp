#include "regmap/record.h"
#include "simulator.h"
#include <cmath>

namespace {
struct Result {
    int status = -1;
    QString out, err;
};
} // namespace

// vardelctl as a script runs it, against the simulator.
class TestVardelctl : public QObject {
    Q_OBJECT
    QString bin = qEnvironmentVariable("VARDEL_BIN");

    Result Run(const Simulator* sim, const QStringList& args, const QString& device = "TR100.dat",
               const QByteArray& locale = QByteArray()) {
        QProcess p;
        if (!locale.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LC_ALL", locale);
            env.insert("LANG", locale);
            p.setProcessEnvironment(env);
        }
        QStringList all{"--device", bin + '/' + device};
        if (sim) all << "--port" << sim->port();
        p.start(bin + "/vardelctl", all + args);
        Result r;
        if (!p.waitForFinished(30000)) return r;
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private slots:
    void writeThenRead() {
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"write", "Tryb", "3", "read", "Tryb", "reset"});
        QCOMPARE(r.out, QStringLiteral("200  Tryb:      3\n200  Tryb       $03\n     Reset\n"));
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err, QString());
    }

    void walkWithTrafficAndLogFile() {
        Simulator sim({});
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString log = dir.path() + "/run.log";
        const Result r = Run(&sim, {"-v", "--log", log, "read", "Identyfikacja"});
        QCOMPARE(r.out, QStringLiteral("0    Nazwa      TR100\n4    Wersja     12\n"
                                       "5    Numer seryj4464\n"));
        QCOMPARE(r.err.count("TX: $F704"), 3);
        QCOMPARE(r.err.count("RX: $F704"), 3);
        QCOMPARE(r.status, 0);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("0    Nazwa      TR100\r\n4    Wersja     12\r\n"
                                         "5    Numer seryj4464\r\n"));
    }

    void polishTextsInUtf8AndCp1250() {
        Simulator sim({});
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const Result r =
            Run(&sim, {"--log", dir.path() + "/l", "read", QString::fromUtf8("Ciśnienie")});
        QCOMPARE(r.out, QString::fromUtf8("102  Ciśnienie  1013,25\n"));
        QFile f(dir.path() + "/l");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("102  Ci\x9Cnienie  1013,25\r\n"));
    }

    // The values print the same, with the decimal comma, whatever the system's locale.
    void valuesUnderBothLocales_data() {
        QTest::addColumn<QByteArray>("locale");
        QTest::newRow("C") << QByteArray("C");
        QTest::newRow("pl_PL.UTF-8") << QByteArray("pl_PL.UTF-8");
    }
    void valuesUnderBothLocales() {
        QFETCH(QByteArray, locale);
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r =
            Run(&sim, {"read", "Pomiary", "write", "Próg alarmu", "-7,25", "read", "Próg alarmu"},
                "TR100.dat", locale);
        QCOMPARE(r.out, QString::fromUtf8("100  Temperatura23,50\n102  Ciśnienie  1013,25\n"
                                          "104  Przesunięci-12\n106  Współczynni0,1000000015\n"
                                          "108  Status     $03\n210  Próg alarmu-7,25\n"
                                          "210  Próg alarmu-7,25\n"));
        QCOMPARE(r.status, 0);
    }

    // A device slower than the window: no line shows another request's reply; a longer
    // --timeout reads it right.
    void slowDevice_data() {
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QStringList>("timeout");
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("status");
        QTest::newRow("60 ms, default window") << "60" << QStringList{} << QString() << 3;
        QTest::newRow("150 ms, --timeout 400")
            << "150" << QStringList{"--timeout", "400"}
            << "100  Temperatura23,50\n108  Status     $03\n4    Wersja     12\n"
            << 0;
    }
    void slowDevice() {
        QFETCH(QString, delay);
        QFETCH(QStringList, timeout);
        QFETCH(QString, out);
        QFETCH(int, status);
        Simulator sim({"--delay", delay});
        QVERIFY(sim.started());
        const Result r = Run(
            &sim, timeout + QStringList{"read", "Temperatura", "read", "Status", "read", "Wersja"});
        QCOMPARE(r.out, out);
        QCOMPARE(r.status, status);
    }

    void badTimeoutIsAUsageError() {
        for (const char* bad : {"0", "-5", "abc", "70000"}) {
            const Result r = Run(nullptr, {"--timeout", bad, "list"});
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("--timeout"), qPrintable(r.err));
        }
    }

    // A walk that stopped on a silent register ends with its command: the write after it
    // writes its one register, and a later read reads only its own.
    void eachCommandStartsWithNoWalk() {
        Simulator sim({"--drop", "2"}, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"read", "Konfiguracja", "write", "Okres uśredniania", "5",
                                    "read", "Tryb", "read", "Wersja"});
        QCOMPARE(r.out, QString::fromUtf8("200  Tryb       $01\n203  Okres uśred5iania:\n"
                                          "4    Wersja     12\n"));
        QCOMPARE(r.status, 3);
        const QStringList requests = sim.Requests();
        QCOMPARE(requests.size(), 5);
        QVERIFY(requests[2].startsWith("F70600CB0005"));
        for (int i : {0, 1, 3, 4})
            QVERIFY2(requests[i].mid(2, 2) == "03" || requests[i].mid(2, 2) == "04",
                     qPrintable(requests[i]));
    }

    // Polish letters written to a TEXT register read back as written, within its 8 bytes.
    void polishTextRoundTrip() {
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"write", "Etykieta", "Pójdź, żółć", "read", "Etykieta"});
        QCOMPARE(r.out, QString::fromUtf8("206  Etykieta:  Pójdź, ż\n206  Etykieta   Pójdź, ż\n"));
        QCOMPARE(r.status, 0);
    }

    void calibrationThatCannotRun_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("count");
        QTest::addColumn<QString>("message");
        QTest::newRow("count 0") << "TR100F.dat"
                                 << "0" << QString::fromUtf8("większa od 0");
        QTest::newRow("count -3") << "TR100F.dat"
                                  << "-3" << QString::fromUtf8("większa od 0");
        QTest::newRow("no R0") << "TR100.dat"
                               << "5" << QString::fromUtf8("\"R0\"");
    }
    void calibrationThatCannotRun() {
        QFETCH(QString, device);
        QFETCH(QString, count);
        QFETCH(QString, message);
        Simulator sim({}, device, true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"calibrate", "100R", count}, device);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!r.err.contains("brak odpowiedzi"));
        QVERIFY(sim.Requests().isEmpty());
    }

    void list() {
        const Result r = Run(nullptr, {"list"}, "TR100F.dat");
        QCOMPARE(r.out,
                 QStringLiteral(
                     "Pomiar\t\t\t\t\n  R0\t0\tINT\t1\tRO\n  Temperatura\t1\tREAL\t2\tRO\n"
                     "Kalibracja\t\t\t\t\n  N100\t300\tWORD\t1\tRW\n  N400\t301\tWORD\t1\tRW\n"));
        QCOMPARE(r.status, 0);
    }

    // A fixed seed makes the samples repeatable; the result lines follow from them.
    void calibrateAndStore() {
        Simulator sim({"--jitter", "R0:6", "--seed", "42"}, "TR100F.dat");
        QVERIFY(sim.started());
        const Result r =
            Run(&sim, {"calibrate", "400R", "8", "--store", "read", "N400"}, "TR100F.dat");
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n');
        QCOMPARE(lines.size(), 2 + 8 + 3 + 2 + 1);
        QCOMPARE(lines[1], QStringLiteral("kalibracja 400R ... "));
        QList<int> samples;
        for (int i = 2; i < 10; ++i) {
            QVERIFY(lines[i].startsWith("0    R0         "));
            samples << lines[i].mid(16).toInt();
            QVERIFY(std::abs(samples.last() - 1000) <= 6);
        }
        int sum = 4;
        for (int s : samples)
            sum += s;
        const int mean = sum / 8;
        double squares = 0;
        for (int s : samples)
            squares += double(s - mean) * (s - mean);
        const QString error = QString::number(std::sqrt(squares) / 8, 'f', 3).replace('.', ',');
        QCOMPARE(lines[10], "========        " + QString::number(mean) + ' ');
        QCOMPARE(lines[11], "err:            " + error + ' ');
        QCOMPARE(lines[12], QString());
        QCOMPARE(lines[13], "301  N400:      " + QString::number(mean));
        QCOMPARE(lines[14], "301  N400       " + QString::number(mean));
    }

    void monitor() {
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"monitor", "Wersja", "100", "3"});
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n');
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QString());
        QCOMPARE(lines[1], QDate::currentDate().toString("yyyy-MM-dd") + "\t4(Wersja)");
        for (int i = 2; i < 5; ++i)
            QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\t12$").match(lines[i]).hasMatch(),
                     qPrintable(lines[i]));
        QCOMPARE(lines[5], QString());
    }

    void exitStatuses_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("silent device") << QStringList{"--drop", "1"}
                                       << QStringList{"read", "Tryb", "read", "Wersja"} << 3 << "";
        QTest::newRow("exception")
            << QStringList{"--exception", "200:2"} << QStringList{"read", "Tryb"} << 3 << "";
        QTest::newRow("read-only write") << QStringList{} << QStringList{"write", "Wersja", "1"}
                                         << 1 << QString::fromUtf8("nie można zapisać");
        QTest::newRow("missing name")
            << QStringList{} << QStringList{"read", "Brak"} << 1 << "Brak";
        QTest::newRow("bad value") << QStringList{} << QStringList{"write", "Tryb", "1,5"} << 1
                                   << "'1,5' is not a valid integer value.";
        QTest::newRow("unknown command") << QStringList{} << QStringList{"erase"} << 2 << "usage:";
        QTest::newRow("reset to slave 0")
            << QStringList{} << QStringList{"--slave", "0", "reset"} << 0 << "";
    }
    void exitStatuses() {
        QFETCH(QStringList, faults);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, stderrHas);
        Simulator sim(faults);
        QVERIFY(sim.started());
        const Result r = Run(&sim, args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
    }

    void badPort() {
        QProcess p;
        p.start(bin + "/vardelctl",
                {"--device", bin + "/TR100.dat", "--port", "/dev/vardel-none", "read", "Tryb"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("nie ma takiego portu"));
    }

    void noReplyDoesNotStopLaterCommands() {
        Simulator sim({"--exception", "200:2"});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"read", "Tryb", "read", "Wersja"});
        QCOMPARE(r.out, QStringLiteral("4    Wersja     12\n"));
        QCOMPARE(r.status, 3);
    }
};

QTEST_GUILESS_MAIN(TestVardelctl)
#include "tst_vardelctl.moc"
