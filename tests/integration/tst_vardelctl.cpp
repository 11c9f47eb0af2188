#include "regmap/record.h"
#include "simulator.h"
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <cmath>
#include <csignal>

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
               const QByteArray& locale = QByteArray(), const QString& workingDir = QString()) {
        QProcess p;
        if (!workingDir.isEmpty()) p.setWorkingDirectory(workingDir);
        if (!locale.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("LC_ALL", locale);
            env.insert("LANG", locale);
            p.setProcessEnvironment(env);
        }
        QStringList all{"--device", QDir::isAbsolutePath(device) || device.startsWith("./")
                                        ? device
                                        : bin + '/' + device};
        if (sim && workingDir.isEmpty()) all << "--port" << sim->port();
        p.start(bin + "/vardelctl", all + args);
        Result r;
        if (!p.waitForFinished(30000)) return r;
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    // vardelctl procedure with its questions answered as a production line does: each
    // "Przyłóż" on stderr gets the input applied to the simulated transducer, then a line.
    Result RunProcedure(Simulator& sim, const QStringList& args, const QString& folder,
                        const QStringList& options = {}) {
        QProcess p;
        p.start(bin + "/vardelctl",
                options +
                    QStringList{"--device", bin + "/TR100F.dat", "--port", sim.port(), "--format",
                                "csv", "procedure", folder + "/TR100F.procedure.json",
                                "--standards", folder + "/wzorce.json"} +
                    args);
        Result r;
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (p.state() != QProcess::NotRunning && clock.elapsed() < 30000) {
            p.waitForReadyRead(100);
            err += p.readAllStandardError();
            const qsizetype ask = err.indexOf("Przyłóż ");
            if (ask < 0 || err.indexOf('\n', ask) < 0) continue;
            const QByteArray value =
                err.mid(ask + QByteArray("Przyłóż ").size(), 3); // "100" or "400"
            r.err += QString::fromUtf8(err.left(err.indexOf('\n', ask) + 1));
            err.remove(0, err.indexOf('\n', ask) + 1);
            sim.Tell("input " + value);
            QThread::msleep(300); // the simulator takes it between requests
            p.write(value == "400" ? "400,000\n" : "\n");
        }
        p.waitForFinished(5000);
        r.status = p.exitCode();
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err += QString::fromUtf8(err + p.readAllStandardError());
        return r;
    }

    static void WriteProcedureFiles(const QString& folder) {
        QFile procedure(folder + "/TR100F.procedure.json");
        QVERIFY(procedure.open(QIODevice::WriteOnly));
        procedure.write(R"({"title": "TR100F", "ranges": [{
            "range": "Rezystancja", "unit": "Ω", "span": [100, 400], "result": "Temperatura",
            "resolution": 0.01, "samples": 3, "spacingMs": 0, "tolerance": {"absolute": 0.1},
            "decisionRule": "guardBand", "points": [
              {"id": "100R", "nominal": 100,
               "adjust": {"kind": "storeMean", "sample": "R0", "register": "N100"}},
              {"id": "400R", "nominal": 400,
               "adjust": {"kind": "storeMean", "sample": "R0", "register": "N400"}}]}]})");
        procedure.close();
        QFile standards(folder + "/wzorce.json");
        QVERIFY(standards.open(QIODevice::WriteOnly));
        standards.write(
            R"({"standards": [{"id": "R-07", "U": 0.002, "k": 2, "due": "2099-01-01"}]})");
    }

    // The PDF as pdftotext reads it: the number and "strona i z n" on every page, every row
    // of every table of the CSV on one line in its order, the end mark on the last page only;
    // the .sha256 beside it is the PDF's.
    static void CheckCertificatePdf(const QString& pdf, const QStringList& csvLines) {
        QProcess text;
        text.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(text.waitForFinished(10000), "pdftotext (poppler-utils) is needed");
        QStringList pages = QString::fromUtf8(text.readAllStandardOutput()).split('\f');
        if (pages.last().trimmed().isEmpty()) pages.removeLast();
        QVERIFY(pages.size() >= 2);
        const QString number = csvLines.value(1).section(';', 1);
        QVERIFY(number.startsWith("VD-"));
        for (qsizetype i = 0; i < pages.size(); ++i) {
            const QString footer =
                QString("%1, strona %2 z %3").arg(number).arg(i + 1).arg(pages.size());
            QVERIFY2(pages[i].contains(footer), qPrintable(footer + " in:\n" + pages[i]));
            QVERIFY(pages[i].contains(QString::fromUtf8("Protokół wzorcowania nr ") + number));
            QCOMPARE(pages[i].contains(QString::fromUtf8("Koniec protokołu")),
                     i == pages.size() - 1);
        }
        const QString all = pages.join('\n');
        // Rows of the tables: after a title line and its column line, until a blank line.
        int rows = 0;
        for (qsizetype i = 1; i + 1 < csvLines.size(); ++i) {
            if (!csvLines[i - 1].isEmpty() || csvLines[i].contains(';')) continue;
            for (qsizetype j = i + 2; j < csvLines.size() && !csvLines[j].isEmpty(); ++j) {
                QStringList cells;
                for (const QString& cell : csvLines[j].split(';'))
                    cells << QRegularExpression::escape(cell);
                const QRegularExpression row(cells.join("\\s+"));
                QVERIFY2(row.match(all).hasMatch(), qPrintable(csvLines[j] + " not in:\n" + all));
                ++rows;
            }
        }
        QVERIFY2(rows >= 4 + 2 + 4 + 2 * 3 * 2, qPrintable(QString::number(rows)));
        for (const char* sentence : {"Wyniki dotyczą wyłącznie wzorcowanego obiektu.",
                                     "Protokół może być powielany wyłącznie w całości."})
            QVERIFY(all.contains(QString::fromUtf8(sentence)));
        QFile file(pdf), sum(pdf + ".sha256");
        QVERIFY(file.open(QIODevice::ReadOnly) && sum.open(QIODevice::ReadOnly));
        QCOMPARE(sum.readAll(),
                 QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex() +
                     "  " + QFileInfo(pdf).fileName().toUtf8() + "\n");
    }

private slots:
    // From a miscalibrated start: as found fails, the adjustment writes exactly the two
    // registers it planned (with --yes), as left passes and the exit status says so; without
    // --yes nothing is written and the status is 4.
    void procedureFromAMiscalibratedStart() {
        QTemporaryDir dir;
        WriteProcedureFiles(dir.path());
        const QStringList transducer{"--transducer", "--gain", "10,05", "--offset", "3",
                                     "--control",    "-"};
        {
            Simulator sim(transducer, "TR100F.dat", true);
            QVERIFY(sim.started());
            const Result r = RunProcedure(sim, {"--reference", "R-07", "--adjust"}, dir.path());
            QCOMPARE(r.status, 4);
            QVERIFY2(r.err.contains("nic nie zapisano (zapisuje --yes)"), qPrintable(r.err));
            for (const QString& request : sim.Requests())
                QVERIFY2(request.mid(2, 2) != "06" && request.mid(2, 2) != "10",
                         qPrintable(request));
        }
        Simulator sim(transducer + QStringList{"--identity", "0=Firma,1=TR100F,2=1.02"},
                      "TR100F.dat", true);
        QVERIFY(sim.started());
        const QString report = dir.path() + "/protokol.pdf";
        const Result r = RunProcedure(
            sim, {"--reference", "R-07", "--adjust", "--yes", "--records", dir.path() + "/rec"},
            dir.path(), {"--report", report});
        QVERIFY2(r.status == 0, qPrintable(r.out + r.err));
        const QStringList rows = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 5); // the header and four points
        QCOMPARE(rows[0], QString("stage,range,point,nominal,reference,mean,error,"
                                  "error_pct_span,tolerance,U,k,verdict"));
        QCOMPARE(rows[1], QString::fromUtf8("jak znaleziono,Rezystancja,100R,\"100,00\",\"100,00\","
                                            "\"100,80\",\"0,80\",\"0,267\",\"0,10\",\"0,0062\",2,"
                                            "niezgodny"));
        QVERIFY2(rows[2].contains(",400R,\"400,00\",\"400,00\",\"402,30\",\"2,30\","),
                 qPrintable(rows[2]));
        QVERIFY2(
            rows[3].startsWith(QString::fromUtf8("jak pozostawiono,Rezystancja,100R,"
                                                 "\"100,00\",\"100,00\",\"100,00\",\"0,00\",")),
            qPrintable(rows[3]));
        QVERIFY(rows[3].endsWith(",zgodny") && rows[4].endsWith(",zgodny"));
        QVERIFY2(r.err.contains("regulacja N100: 1000 -> 1008") &&
                     r.err.contains("regulacja N400: 4000 -> 4023"),
                 qPrintable(r.err));
        QStringList writes;
        for (const QString& request : sim.Requests())
            if (request.mid(2, 2) == "06" || request.mid(2, 2) == "10") writes << request;
        QCOMPARE(writes.size(), 2);
        QVERIFY2(writes[0].startsWith("F706012C03F0"), qPrintable(writes[0])); // N100 1008
        QVERIFY2(writes[1].startsWith("F706012D0FB7"), qPrintable(writes[1])); // N400 4023
        // The certificate's data, numbered from the records folder.
        QVERIFY2(r.err.contains("protokół VD-" + QString::number(QDate::currentDate().year()) +
                                "-000001"),
                 qPrintable(r.err));
        QFile csv(dir.path() + "/protokol.csv"); // the same data beside the PDF
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(csv.readAll().mid(3)).split("\r\n");
        QVERIFY(lines.contains("Wynik;zgodny"));
        QVERIFY(lines.contains("Oprogramowanie;1.02")); // identified before the first point
        QVERIFY(lines.contains("100R;N100;300;1000;1008;1008;tak;tak;nie"));
        QVERIFY(lines.contains("400R;N400;301;4000;4023;4023;tak;tak;nie"));
        QVERIFY(lines.contains("Koniec protokołu"));
        CheckCertificatePdf(report, lines);
    }

    // Two procedures finishing at once, with one records folder: two numbers, two files.
    void twoProceduresFinishAtOnce() {
        QTemporaryDir dir;
        WriteProcedureFiles(dir.path());
        Simulator first({"--transducer"}, "TR100F.dat"), second({"--transducer"}, "TR100F.dat");
        QVERIFY(first.started() && second.started());
        QProcess a, b;
        for (auto [p, sim, name] : {std::tuple{&a, &first, "a.pdf"}, {&b, &second, "b.pdf"}}) {
            p->start(bin + "/vardelctl",
                     {"--device", bin + "/TR100F.dat", "--port", sim->port(), "--report",
                      dir.path() + '/' + name, "procedure", dir.path() + "/TR100F.procedure.json",
                      "--standards", dir.path() + "/wzorce.json", "--as-found-only", "--records",
                      dir.path() + "/rec"});
            p->closeWriteChannel(); // every point at its nominal value
        }
        QVERIFY(a.waitForFinished(30000) && b.waitForFinished(30000));
        const QString year = QString::number(QDate::currentDate().year());
        const QString errors =
            QString::fromUtf8(a.readAllStandardError() + "\n" + b.readAllStandardError());
        QVERIFY2(errors.contains(QString::fromUtf8("protokół VD-%1-000001").arg(year)) &&
                     errors.contains(QString::fromUtf8("protokół VD-%1-000002").arg(year)),
                 qPrintable(errors));
        QVERIFY(QFile::exists(dir.path() + "/a.pdf") && QFile::exists(dir.path() + "/b.pdf"));
    }

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
                                       "5    Numer seryj70000\n"));
        QCOMPARE(r.err.count("TX: $F704"), 3);
        QCOMPARE(r.err.count("RX: $F704"), 3);
        QCOMPARE(r.status, 0);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("0    Nazwa      TR100\r\n4    Wersja     12\r\n"
                                         "5    Numer seryj70000\r\n"));
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

    // A walk goes past a register that does not answer, after a second try: every register
    // of the group is read, and the commands after it run on their own.
    void walkGoesPastSilentRegisters() {
        Simulator sim({"--drop", "2"}, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"read", "Konfiguracja", "write", "Okres uśredniania", "5",
                                    "read", "Tryb", "read", "Wersja"});
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 10); // nine registers, then Tryb: the write and Wersja dropped
        QVERIFY(lines[1].startsWith("201  Opcje"));
        QVERIFY(lines[8].startsWith(QString::fromUtf8("214  Licznik zda")));
        QCOMPARE(lines[9], QStringLiteral("200  Tryb       $01"));
        QCOMPARE(r.status, 3);
        const QStringList requests = sim.Requests();
        QCOMPARE(requests.size(), 20); // 1 + 2 x 8 for the group, then one per command
        QVERIFY(requests[17].startsWith("F70600CB0005"));
        QVERIFY(!r.err.contains("nieodczytanych"));
    }

    // Every request without a valid reply says why on stderr; a group read says where it
    // stopped.
    void sayWhy_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("why");
        QTest::newRow("exception")
            << QStringList{"--exception", "200:2"} << "Tryb"
            << QString::fromUtf8("200 Tryb: wyjątek 2 (niedozwolony adres danych)");
        QTest::newRow("no reply") << QStringList{"--drop", "1"} << "Tryb"
                                  << QString::fromUtf8("200 Tryb: brak odpowiedzi w ciągu 40 ms");
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"} << "Tryb"
                                 << QString::fromUtf8("200 Tryb: błędne CRC");
        QTest::newRow("a group with a register that fails")
            << QStringList{"--exception", "102:4"} << "Pomiary"
            << QString::fromUtf8("read Pomiary: nieodczytanych rejestrów 1");
    }
    void sayWhy() {
        QFETCH(QStringList, faults);
        QFETCH(QString, name);
        QFETCH(QString, why);
        Simulator sim(faults);
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"read", name});
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(why), qPrintable(r.err));
    }

    // The whole command line is checked before anything is sent.
    void wholeLineCheckedFirst_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("a typo after a write")
            << QStringList{"write", "Korekta", "9", "wrtie", "Korekta", "10"} << 2;
        QTest::newRow("a count below 0") << QStringList{"monitor", "Wersja", "100", "-1"} << 2;
        QTest::newRow("a count past 2^31-1")
            << QStringList{"monitor", "Wersja", "100", "2147483648"} << 2;
        QTest::newRow("a period too short") << QStringList{"monitor", "Wersja", "50", "3"} << 2;
        QTest::newRow("an unknown format") << QStringList{"--format", "xml", "read", "Tryb"} << 2;
        QTest::newRow("slave 248") << QStringList{"--slave", "248", "read", "Tryb"} << 2;
        QTest::newRow("a broadcast read") << QStringList{"--slave", "0", "read", "Tryb"} << 2;
        QTest::newRow("a value that is no number")
            << QStringList{"write", "Korekta", "9", "write", "Tryb", "x"} << 1;
        QTest::newRow("a name not in the file")
            << QStringList{"write", "Korekta", "9", "read", "Brak"} << 1;
        QTest::newRow("a range the file lacks")
            << QStringList{"write", "Korekta", "9", "calibrate", "100R", "5"} << 1;
        QTest::newRow("the doctor asking a group")
            << QStringList{"write", "Korekta", "9", "doctor", "--register", "Pomiary"} << 1;
        QTest::newRow("the doctor asking an unknown register")
            << QStringList{"write", "Korekta", "9", "doctor", "--register", "Brak"} << 1;
    }
    void wholeLineCheckedFirst() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        Simulator sim({}, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, args);
        QCOMPARE(r.status, status);
        QVERIFY(!r.err.isEmpty());
        QCOMPARE(sim.Requests(), QStringList());
    }

    void missingPortIsAUsageError() {
        const Result r = Run(nullptr, {"read", "Tryb"});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains("--port"));
    }

    void helpAndVersion_data() {
        QTest::addColumn<QString>("program");
        QTest::newRow("vardelctl") << "vardelctl";
        QTest::newRow("vardel-sim") << "vardel-sim";
        QTest::newRow("vardel-dev") << "vardel-dev";
    }
    void helpAndVersion() {
        QFETCH(QString, program);
        QProcess p;
        p.start(bin + '/' + program, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* part : {"Kod wyjścia", "Przykłady", "--help", "--version"})
            QVERIFY2(help.contains(QString::fromUtf8(part)), qPrintable(help));
        for (const char* english : {"Usage", "Options", "Exit status", "Displays"})
            QVERIFY2(!help.contains(english), qPrintable(help));
        p.start(bin + '/' + program, {"--version"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
                 program + ' ' + VARDEL_VERSION);
    }

    // Records a spreadsheet or a program reads: 20 monitor rows of time and value.
    void csvMonitor() {
        Simulator sim({"--jitter", "R0:6"}, "TR100F.dat");
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"--format", "csv", "monitor", "R0", "100", "20"}, "TR100F.dat");
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 21);
        QCOMPARE(lines[0],
                 QStringLiteral("time,name,address,type,value,text,operation,outcome,slave"));
        for (const QString& line : lines.mid(1)) {
            const QStringList f = line.split(',');
            QCOMPARE(f.size(), 9);
            QCOMPARE(f.mid(6), (QStringList{"monitor", "ok", "247"}));
            QVERIFY2(QDateTime::fromString(f[0], Qt::ISODateWithMs).isValid(), qPrintable(line));
            QCOMPARE(f.mid(1, 3), (QStringList{"R0", "0", "INT"}));
            QVERIFY(std::abs(f[4].toInt() - 1000) <= 6);
        }
    }

    void jsonRecords() {
        Simulator sim({}, "TR100F.dat");
        QVERIFY(sim.started());
        const Result r =
            Run(&sim, {"--format", "json", "read", "Temperatura", "calibrate", "100R", "2"},
                "TR100F.dat");
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + 2 + 2);
        QList<QJsonObject> objects;
        for (const QString& line : lines)
            objects << QJsonDocument::fromJson(line.toUtf8()).object();
        QCOMPARE(objects[0].value("name").toString(), QStringLiteral("Temperatura"));
        QCOMPARE(objects[0].value("value").toDouble(), 21.0);
        QCOMPARE(objects[0].value("text").toString(), QStringLiteral("21,00"));
        QCOMPARE(objects[3].value("name").toString(), QStringLiteral("100R mean"));
        QCOMPARE(objects[3].value("value").toInt(), 1000);
        QCOMPARE(objects[4].value("name").toString(), QStringLiteral("100R error"));
        QCOMPARE(objects[0].value("operation").toString(), QStringLiteral("read"));
        QCOMPARE(objects[1].value("operation").toString(), QStringLiteral("calibrate"));
    }

    // list, scan and ports honour --format as the records do.
    void listScanAndPortsForAProgram() {
        Result r = Run(nullptr, {"--format", "csv", "list"});
        QCOMPARE(r.status, 0);
        QStringList lines = r.out.trimmed().split('\n');
        QCOMPARE(lines[0], QStringLiteral("depth,name,address,type,count,access"));
        QVERIFY(lines.contains(QStringLiteral("1,Wersja,4,WORD,1,RO")));
        Simulator sim({});
        QVERIFY(sim.started());
        r = Run(&sim, {"--format", "json", "scan", "245-247"});
        QCOMPARE(r.status, 0);
        QCOMPARE(QJsonDocument::fromJson(r.out.trimmed().toUtf8()).object().value("slave"),
                 QJsonValue("247"));
        r = Run(nullptr, {"--format", "json", "ports"});
        QCOMPARE(r.status, 0);
        for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
            QVERIFY(QJsonDocument::fromJson(line.toUtf8()).object().contains("port"));
    }

    // Every request is a record a program can read: failed ones too, with how they ended;
    // a real in full precision with a decimal point; the time with its offset from UTC.
    void recordsForAProgram() {
        Simulator sim({"--exception", "4:2"});
        QVERIFY(sim.started());
        const Result r =
            Run(&sim, {"--format", "json", "write", QString::fromUtf8("Próg alarmu"), "12", "read",
                       QString::fromUtf8("Próg alarmu"), "read", "Wersja", "reset"});
        QCOMPARE(r.status, 3);
        const QStringList lines = r.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[1].contains("\"value\":12.0,"), qPrintable(lines[1])); // a real stays real
        QList<QJsonObject> o;
        for (const QString& line : lines)
            o << QJsonDocument::fromJson(line.toUtf8()).object();
        QCOMPARE(o[0].value("operation").toString(), QStringLiteral("write"));
        QCOMPARE(o[1].value("value").toDouble(), 12.0);
        QCOMPARE(o[2].value("name").toString(), QStringLiteral("Wersja"));
        QVERIFY(o[2].value("value").isNull());
        QCOMPARE(o[2].value("outcome").toString(),
                 QString::fromUtf8("wyjątek 2 (niedozwolony adres danych)"));
        QCOMPARE(o[3].value("operation").toString(), QStringLiteral("reset"));
        QCOMPARE(o[3].value("outcome").toString(), QStringLiteral("ok"));
        const QString time = o[0].value("time").toString();
        QVERIFY2(QRegularExpression("T\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$")
                     .match(time)
                     .hasMatch(),
                 qPrintable(time));
    }

    // Ctrl-C or SIGTERM during an endless monitor: the log is saved whole, the port is free
    // for another program at once, the statistics are printed.
    void interruptedMonitor_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGTERM") << int(SIGTERM) << 143;
    }
    void interruptedMonitor() {
        QFETCH(int, signal);
        QFETCH(int, status);
        Simulator sim({});
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString log = dir.path() + "/m.log";
        QProcess p;
        p.start(bin + "/vardelctl", {"--device", bin + "/TR100.dat", "--port", sim.port(), "--log",
                                     log, "monitor", "Wersja", "100", "0"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(700);
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), status);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY(out.count("\t12\n") >= 3);
        QVERIFY(
            QString::fromUtf8(p.readAllStandardError()).contains(QString::fromUtf8("żądania ")));
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(f.readAll()).replace("\r\n", "\n"), out);
        QSerialPort again(sim.port());
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    }

    // --retries tries a request without a valid reply again; --stop-on-error ends the list at
    // the first failed command, so a write after a failed read is never sent.
    void retriesAndStopOnError_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("writes");       // writes the device received
        QTest::addColumn<int>("versionReads"); // reads of Wersja it received
        const QStringList silentSecond{"--drop", "2"};
        const QStringList refusedWersja{"--exception", "4:2"};
        const QStringList busyWersja{"--exception", "4:6"};
        QTest::newRow("a lost reply fails the run") << silentSecond << QStringList{} << 3 << 1 << 1;
        // Every second request is lost: Wersja and the write each take a second try.
        QTest::newRow("a retry makes it good")
            << silentSecond << QStringList{"--retries", "1"} << 0 << 2 << 2;
        QTest::newRow("an exception is not asked again")
            << refusedWersja << QStringList{"--retries", "2"} << 3 << 1 << 1;
        QTest::newRow("but busy is") << busyWersja << QStringList{"--retries", "2"} << 3 << 1 << 3;
        QTest::newRow("the write after a failure is sent")
            << refusedWersja << QStringList{} << 3 << 1 << 1;
        QTest::newRow("--stop-on-error sends no write")
            << refusedWersja << QStringList{"--stop-on-error"} << 3 << 0 << 1;
    }
    void retriesAndStopOnError() {
        QFETCH(QStringList, faults);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(int, writes);
        QFETCH(int, versionReads);
        Simulator sim(faults, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(
            &sim, options + QStringList{"read", "Tryb", "read", "Wersja", "write", "Tryb", "2"});
        QCOMPARE(r.status, status);
        const QStringList requests = sim.Requests();
        QCOMPARE(requests.filter(QRegularExpression("^F706")).size(), writes);
        QCOMPARE(requests.filter(QRegularExpression("^F70400040001")).size(), versionReads);
        if (options.contains("--stop-on-error"))
            QVERIFY(r.err.contains(
                QString::fromUtf8("--stop-on-error: pozostałe polecenia pominięto")));
    }

    // A text longer than its registers: what was sent is what the log, CSV and the read show,
    // and stderr says it was cut.
    void longTextIsCutAndSaidSo_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("shown"); // the write's own line on stdout
        QTest::newRow("log") << "log" << QString::fromUtf8("206  Etykieta:  Punkt po");
        QTest::newRow("csv") << "csv" << QString::fromUtf8(",Etykieta,206,TEXT,Punkt po,");
    }
    void longTextIsCutAndSaidSo() {
        QFETCH(QString, format);
        QFETCH(QString, shown);
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"--format", format, "write", "Etykieta", "Punkt pomiarowy 12",
                                    "read", "Etykieta"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QString::fromUtf8(
                     "Etykieta: tekst ma 18 znaków, rejestry mieszczą 8; wysłano \"Punkt po\"")),
                 qPrintable(r.err));
        QVERIFY2(r.out.contains(shown), qPrintable(r.out));
        QVERIFY(!r.out.contains("pomiarowy"));
    }

    // A port that goes away in the middle of a run says why, with its name.
    void lostPortSaysWhy_data() {
        QTest::addColumn<QStringList>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("pseudo-terminal") << QStringList{} << QString::fromUtf8("port zniknął");
        QTest::newRow("TCP gateway")
            << QStringList{"--tcp", "0"} << QString::fromUtf8("druga strona zamknęła połączenie");
    }
    void lostPortSaysWhy() {
        QFETCH(QStringList, line);
        QFETCH(QString, reason);
        auto sim = std::make_unique<Simulator>(line);
        QVERIFY(sim->started());
        const QString port = sim->port();
        QProcess p;
        p.start(bin + "/vardelctl",
                {"--device", bin + "/TR100.dat", "--port", port, "monitor", "Wersja", "100", "0"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(500);
        sim.reset(); // the simulator and its pseudo-terminal or its connection are gone
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 3);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains(QString::fromUtf8("Utracono port %1: %2\n").arg(port, reason)),
                 qPrintable(err));
    }

    // The line doctor finds the rate, parity and address a device answers at, names an echo
    // and a silent line, and never writes.
    void lineDoctor_data() {
        QTest::addColumn<QStringList>("device");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("function"); // of every request
        QTest::newRow("4800 odd at an unknown address")
            << QStringList{"--only-at", "4800,odd", "--slave", "5"} << QStringList{"doctor", "1-10"}
            << 0
            << QStringList{"Odpowiada adres 5 przy 4800,o,8,1.\n",
                           "Ustawienia wywołania (19200,e,8,1) są inne: użyj --baud 4800 "
                           "--parity odd.\n"}
            << "04";
        QTest::newRow("a register named, the range after it")
            << QStringList{"--only-at", "9600,none", "--slave", "3"}
            << QStringList{"doctor", "--register", "Tryb", "1-4"} << 0
            << QStringList{"Odpowiada adres 3 przy 9600,n,8,2.\n"} << "03";
        QTest::newRow("echoing adapter")
            << QStringList{"--echo"} << QStringList{"--slave", "247", "doctor"} << 0
            << QStringList{"Przejściówka odsyła echo każdego żądania: użyj --echo",
                           "Czas odpowiedzi (20 odczytów)"}
            << "04";
        QTest::newRow("silent line")
            << QStringList{"--drop", "1"} << QStringList{"--slave", "247", "doctor"} << 3
            << QStringList{"Nic nie odpowiedziało: 24 ustawień łącza, adresy 247."} << "04";
    }
    void lineDoctor() {
        QFETCH(QStringList, device);
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, said);
        QFETCH(QString, function);
        Simulator sim(device, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, args);
        QCOMPARE(r.status, status);
        for (const QString& words : said)
            QVERIFY2(r.out.contains(words), qPrintable(r.out));
        // Only the one setting answers where the simulator minds the line's settings.
        QCOMPARE(r.out.count(QString::fromUtf8("Odpowiada adres")),
                 device.contains("--only-at") ? 1 : 0);
        const QStringList requests = sim.Requests();
        QVERIFY(!requests.isEmpty());
        for (const QString& request : requests) // reads of the one register, nothing else
            QVERIFY2(request.mid(2, 2) == function, qPrintable(request));
    }

    // A device behind a serial device server: the port text tcp:HOST:PORT and the same
    // commands, records and exit statuses as on a serial line.
    void deviceBehindATcpGateway() {
        Simulator sim({"--tcp", "0"});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"--format", "json", "write", "Tryb", "3", "read", "Tryb"});
        if (r.err.contains("QtNetwork")) QSKIP("this build has no QtNetwork");
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QJsonObject read = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        QCOMPARE(read.value("operation").toString(), QStringLiteral("read"));
        QCOMPARE(read.value("outcome").toString(), QStringLiteral("ok"));
        QCOMPARE(read.value("value").toInt(), 3);
        const QString gone = sim.port();
        sim.Stop();
        const Result refused = Run(nullptr, {"--port", gone, "read", "Tryb"});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(gone + QString::fromUtf8(": połączenie odrzucone")),
                 qPrintable(refused.err));
    }

    // A run without log lines replaces an older log of that name with an empty one and says
    // so: a script never takes an earlier run's log for this one's.
    void emptyLogReplacesAnOlderOne() {
        Simulator sim({"--drop", "1"});
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString log = dir.path() + "/run.log";
        QFile old(log);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("0    Wersja     12\r\n");
        old.close();
        const Result r = Run(&sim, {"--log", log, "read", "Wersja"});
        QCOMPARE(r.status, 3);
        QCOMPARE(QFileInfo(log).size(), 0);
        QVERIFY2(r.err.contains(QString::fromUtf8("Dziennik tego przebiegu jest pusty")),
                 qPrintable(r.err));
    }

    // A signal ends a long wait for a reply at once, not when the timeout runs out; SIGHUP
    // (the terminal closed) ends the run as SIGTERM does. Nothing is sent after it.
    void signalEndsTheWait_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT") << int(SIGINT) << 130;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 129;
    }
    void signalEndsTheWait() {
        QFETCH(int, signal);
        QFETCH(int, status);
        Simulator sim({"--drop", "1"}, "TR100.dat", true);
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString log = dir.path() + "/w.log";
        QProcess p;
        p.start(bin + "/vardelctl", {"--device", bin + "/TR100.dat", "--port", sim.port(),
                                     "--timeout", "8000", "--log", log, "read", "Konfiguracja"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(600);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(5000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(p.exitCode(), status);
        QVERIFY(
            QString::fromUtf8(p.readAllStandardError()).contains(QString::fromUtf8("żądania 1,")));
        QCOMPARE(sim.Requests().size(), 1); // the walk sent nothing more
        QVERIFY(QFile::exists(log));
    }

    // A second master on a port in use is refused and told the port is busy, not that it
    // lacks a permission; the first run goes on undisturbed.
    void busyPortIsSaidBusy() {
        Simulator sim({});
        QVERIFY(sim.started());
        QProcess first;
        first.start(bin + "/vardelctl", {"--device", bin + "/TR100.dat", "--port", sim.port(),
                                         "monitor", "Wersja", "100", "8"});
        QVERIFY(first.waitForStarted());
        QTest::qWait(300);
        const Result second = Run(&sim, {"read", "Wersja"});
        QCOMPARE(second.status, 1);
        QVERIFY2(second.err.contains(QString::fromUtf8("port zajęty przez inny program")),
                 qPrintable(second.err));
        QVERIFY(!second.err.contains("usermod"));
        QVERIFY(first.waitForFinished(5000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(first.readAllStandardOutput()).count("\t12\n"), 8);
    }

    // A bare device name is found the same way by vardelctl, vardel-dev and vardel-sim: the
    // user's own device folder first, then the installed ones, then beside the program.
    void oneDeviceLookupForEveryProgram() {
        QTemporaryDir home, cwd;
        const QString user = home.path() + "/.local/share/vardel/devices";
        QVERIFY(QDir().mkpath(user));
        QVERIFY(QFile::copy(bin + "/TR100F.dat", user + "/TR100.dat")); // the user's own TR100
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("XDG_DATA_HOME");
        auto run = [&](const QString& program, const QStringList& args) {
            QProcess p;
            p.setProcessEnvironment(env);
            p.setWorkingDirectory(cwd.path());
            p.start(bin + '/' + program, args);
            p.waitForFinished(10000);
            return QString::fromUtf8(p.readAllStandardOutput());
        };
        QVERIFY(run("vardelctl", {"--device", "TR100.dat", "list"}).contains("R0\t0\tINT"));
        QVERIFY(run("vardel-dev", {"dump", "TR100.dat"}).contains("\"R0\""));
        QVERIFY(run("vardelctl", {"--device", "TR100F.dat", "list"}).contains("R0")); // beside
        QProcess sim;
        sim.setProcessEnvironment(env);
        sim.start(bin + "/vardel-sim", {"--device", "TR100.dat", "--pty", cwd.path() + "/tty"});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(cwd.path() + "/tty"), 5000);
        QVERIFY(
            run("vardelctl", {"--device", "TR100.dat", "--port", cwd.path() + "/tty", "read", "R0"})
                .contains("R0         1000"));
        sim.terminate();
        sim.waitForFinished(3000);
        QProcess ports; // and the ports need no device file
        ports.start(bin + "/vardelctl", {"ports"});
        QVERIFY(ports.waitForFinished(10000));
        QCOMPARE(ports.exitCode(), 0);
    }

    void statsScanAndPorts() {
        Simulator sim({});
        QVERIFY(sim.started());
        Result r = Run(&sim, {"--stats", "read", "Wersja", "read", "Tryb"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QString::fromUtf8(
                     "żądania 2, poprawne 2, wyjątki 0, błędne CRC 0, niepasujące 0, bez "
                     "odpowiedzi 0; czas odpowiedzi ms: min ")),
                 qPrintable(r.err));
        // For a program: the statistics in the records' format, the last thing on stderr.
        r = Run(&sim, {"--stats", "--format", "csv", "read", "Wersja", "read", "Tryb"});
        QStringList err = r.err.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(err.value(err.size() - 2),
                 QStringLiteral("requests,valid,exceptions,bad_crc,"
                                "mismatched,no_reply,echo,ms_min,ms_median,"
                                "ms_max"));
        QVERIFY2(err.last().startsWith("2,2,0,0,0,0,0,") && err.last().count('.') == 3,
                 qPrintable(err.last()));
        QCOMPARE(r.out.count('\n'), 3); // the records alone, under their header
        r = Run(&sim, {"--stats", "--format", "json", "--timeout", "20", "read", "Wersja", "read",
                       "Wersja"});
        err = r.err.split('\n', Qt::SkipEmptyParts);
        const QJsonObject two = QJsonDocument::fromJson(err.last().toUtf8()).object();
        QCOMPARE(two.value("requests").toInt(), 2);
        QCOMPARE(two.value("valid").toInt(), 2);
        QVERIFY(two.value("ms_max").isDouble());
        QVERIFY(two.value("ms_min").toDouble() <= two.value("ms_max").toDouble());
        r = Run(&sim, {"scan", "244-247"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, QStringLiteral("247\n"));
        QVERIFY(r.err.contains(QString::fromUtf8("scan 244-247: odpowiedziało 1,")));
        r = Run(nullptr, {"ports"});
        QCOMPARE(r.status, 0);
        // A scan without a device file asks for holding register 0 at each address.
        Simulator traced({}, "TR100.dat", true);
        QVERIFY(traced.started());
        QProcess bare;
        bare.start(bin + "/vardelctl",
                   {"--port", traced.port(), "--format", "json", "--stats", "scan", "246-247"});
        QVERIFY(bare.waitForFinished(10000));
        QCOMPARE(bare.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(bare.readAllStandardOutput()),
                 QStringLiteral("{\"slave\":\"247\"}\n"));
        // The reply's time counts from the request's last byte, not from the wait for 246's
        // late reply before it (a read window, 40 ms).
        const QList<QByteArray> errLines = bare.readAllStandardError().trimmed().split('\n');
        const QJsonObject scanStats = QJsonDocument::fromJson(errLines.last()).object();
        QCOMPARE(scanStats.value("valid").toInt(), 1);
        QVERIFY2(scanStats.value("ms_max").toDouble(99) < 20, errLines.last().constData());
        const QStringList sent = traced.Requests();
        QCOMPARE(sent.size(), 2);
        QVERIFY2(sent.last().startsWith("F70300000001"), qPrintable(sent.last()));
        QVERIFY(sent[sent.size() - 2].startsWith("F60300000001"));
    }

    // Paths as a shell user types them, a broadcast write, a decimal point.
    void asAShellUserTypes() {
        Simulator sim({});
        QVERIFY(sim.started());
        const QString folder = QFileInfo(sim.port()).absolutePath();
        QVERIFY(QFile::copy(bin + "/TR100.dat", folder + "/mine.dat"));
        const QString relative = "./" + QFileInfo(sim.port()).fileName();
        Result r = Run(&sim, {"--port", relative, "read", "Wersja"}, "./mine.dat", {}, folder);
        QCOMPARE(r.out, QStringLiteral("4    Wersja     12\n"));
        QTemporaryDir elsewhere;
        QProcess p;
        p.setWorkingDirectory(elsewhere.path());
        p.start(bin + "/vardelctl",
                {"--device", "TR100.dat", "--port", sim.port(), "read", "Wersja"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0); // found beside the program
        r = Run(&sim, {"--slave", "0", "write", "Tryb", "2"});
        QCOMPARE(r.status, 0);
        r = Run(&sim, {"write", QString::fromUtf8("Próg alarmu"), "12.5", "read",
                       QString::fromUtf8("Próg alarmu")});
        QCOMPARE(r.out, QString::fromUtf8("210  Próg alarmu12,5\n210  Próg alarmu12,50\n"));
    }

    // The calibration record: every figure of the run is in the PDF's text, and the CSV is
    // what a Polish spreadsheet reads.
    void calibrationReport() {
        Simulator sim({"--jitter", "R0:6", "--seed", "42"}, "TR100F.dat");
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString pdf = dir.path() + "/run.pdf", csv = dir.path() + "/run.csv";
        const Result r =
            Run(&sim, {"--report", pdf, "calibrate", "100R", "8", "--store"}, "TR100F.dat");
        QCOMPARE(r.status, 0);
        const QStringList lines = r.out.split('\n');
        QStringList samples;
        for (int i = 2; i < 10; ++i)
            samples << lines[i].mid(16);
        const QString mean = lines[10].mid(16).trimmed(), error = lines[11].mid(16).trimmed();
        QProcess text;
        text.start("pdftotext", {"-layout", pdf, "-"});
        QVERIFY2(text.waitForFinished(10000), "pdftotext (poppler-utils) is needed");
        const QString pdfText = QString::fromUtf8(text.readAllStandardOutput());
        QFile device(bin + "/TR100F.dat");
        QVERIFY(device.open(QIODevice::ReadOnly));
        const QString sha = QString::fromLatin1(
            QCryptographicHash::hash(device.readAll(), QCryptographicHash::Sha256).toHex());
        QStringList figures = samples;
        figures << mean << error << sha.left(32) << sha.right(16) << "TR100F.dat" << sim.port()
                << "19200,e,8,1"
                << "247"
                << "100R"
                << "N100 (300)" << QString::fromUtf8("Protokół kalibracji")
                << QString::fromUtf8("poprawna odpowiedź");
        for (const QString& figure : figures)
            QVERIFY2(pdfText.contains(figure), qPrintable(figure + " missing in:\n" + pdfText));

        const Result again = Run(&sim, {"--report", csv, "calibrate", "100R", "3"}, "TR100F.dat");
        QCOMPARE(again.status, 0);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList rows = QString::fromUtf8(bytes.mid(3)).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows[0], QString::fromUtf8("Protokół kalibracji"));
        QVERIFY(rows.contains(QString::fromUtf8("Próbek pobranych;3")));
        const QStringList tail =
            rows.mid(rows.indexOf(QString::fromUtf8("Próbka;Czas;Wartość")) + 1);
        QCOMPARE(tail.size(), 3);
        for (const QString& row : tail) {
            const QStringList f = row.split(';');
            QCOMPARE(f.size(), 3);
            QVERIFY(std::abs(f[2].toInt() - 1000) <= 6);
        }
        const QString deviation =
            rows.filter(QString::fromUtf8("Odchylenie standardowe (")).value(0);
        QVERIFY2(deviation.section(';', 1).contains(','), qPrintable(deviation)); // decimal comma
        // The figures are those of the samples listed: n - 1 deviation, minimum, maximum.
        QList<double> values;
        for (const QString& row : tail)
            values << row.section(';', 2).toDouble();
        const double exact = (values[0] + values[1] + values[2]) / 3;
        double squares = 0;
        for (double v : values)
            squares += (v - exact) * (v - exact);
        const QString expected = QString::number(std::sqrt(squares / 2), 'f', 3).replace('.', ',');
        QCOMPARE(deviation.section(';', 1), expected);
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        QVERIFY(rows.contains("Minimum;" + QString::number(*low)));
        QVERIFY(rows.contains("Maksimum;" + QString::number(*high)));
    }

    // Several calibrate commands with one --report: a record each, numbered, none lost.
    void oneRecordPerCalibration() {
        Simulator sim({}, "TR100F.dat");
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const Result r = Run(&sim,
                             {"--report", dir.path() + "/kal.csv", "calibrate", "100R", "2",
                              "calibrate", "400R", "3"},
                             "TR100F.dat");
        QCOMPARE(r.status, 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), (QStringList{"kal_1.csv", "kal_2.csv"}));
        auto samples = [&](const QString& name) {
            QFile f(dir.path() + '/' + name);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        QVERIFY(samples("kal_1.csv").contains(QString::fromUtf8("Próbek pobranych;2")));
        QVERIFY(samples("kal_2.csv").contains(QString::fromUtf8("Próbek pobranych;3")));
        QVERIFY(samples("kal_2.csv").contains("400R"));
    }

    // A --log or --report that cannot be saved stops the run before the port opens: the
    // device is not changed by a run whose record would be lost.
    void outputsCheckedBeforeTheDeviceChanges_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("path"); // under the temporary folder
        QTest::newRow("--log in a missing folder") << "--log"
                                                   << "/brak/x.log";
        QTest::newRow("--log onto a folder") << "--log"
                                             << "/folder";
        QTest::newRow("--report in a missing folder") << "--report"
                                                      << "/brak/x.pdf";
        QTest::newRow("--report onto a folder") << "--report"
                                                << "/folder";
    }
    void outputsCheckedBeforeTheDeviceChanges() {
        QFETCH(QString, option);
        QFETCH(QString, path);
        Simulator sim({}, "TR100F.dat", true);
        QVERIFY(sim.started());
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const Result r = Run(&sim,
                             {option, dir.path() + path, "write", "N100", "1234", "calibrate",
                              "100R", "2", "--store"},
                             "TR100F.dat");
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("Cannot create file"), qPrintable(r.err));
        QVERIFY2(sim.Requests().isEmpty(), qPrintable(sim.Requests().join(' ')));
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

    // An adapter that echoes every request: without --echo each read ends as "echo łącza",
    // with it the echo is dropped and the reply read; the records say which.
    void echoingAdapter_data() {
        QTest::addColumn<bool>("echoes");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("records");
        // The group's walk tries each register that failed once more.
        QTest::newRow("echo not removed")
            << true << QStringList{} << 3 << QString::fromUtf8("echo łącza") << 1 + 2 * 5;
        QTest::newRow("echo removed") << true << QStringList{"--echo"} << 0 << "ok" << 6;
        QTest::newRow("removal on a line without echo")
            << false << QStringList{"--echo", "--timeout", "60"} << 0 << "ok" << 6;
    }
    void echoingAdapter() {
        QFETCH(bool, echoes);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        QFETCH(int, records);
        Simulator sim(echoes ? QStringList{"--echo"} : QStringList{});
        QVERIFY(sim.started());
        const Result r = Run(
            &sim, options + QStringList{"--format", "json", "read", "Wersja", "read", "Pomiary"});
        QCOMPARE(r.status, status);
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), records); // Wersja and the five registers of Pomiary
        for (const QString& line : lines)
            QCOMPARE(QJsonDocument::fromJson(line.toUtf8()).object().value("outcome").toString(),
                     outcome);
        if (status == 0)
            QCOMPARE(QJsonDocument::fromJson(lines[0].toUtf8()).object().value("value").toInt(),
                     12);
    }

    // identify: function 43/14's streams (the simulator has the basic one unless told more,
    // in parts when told), then 17; nothing but those two functions goes out.
    void identifyTheDevice_data() {
        QTest::addColumn<QStringList>("device");
        QTest::addColumn<QStringList>("format");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("basic objects")
            << QStringList{} << QStringList{} << 0
            << QStringList{"Producent: vardel\n", "Kod produktu: TR100\n", "Wersja: 1.0\n",
                           "Identyfikator serwera: ", "Odpowiedziała funkcja 43/14 i 17\n"}
            << "";
        QTest::newRow("extended objects in parts")
            << QStringList{"--identity", "0=Firma,1=TR100,2=1.02,4=Przetwornik,128=SN-0001",
                           "--identity-parts", "2"}
            << QStringList{"--format", "json"} << 0
            << QStringList{"{\"id\":\"4\",\"name\":\"Produkt\",\"value\":\"Przetwornik\"}",
                           "{\"id\":\"128\",\"name\":\"obiekt 0x80\",\"value\":\"SN-0001\"}",
                           "{\"id\":\"server\""}
            << "";
        QTest::newRow("no identification")
            << QStringList{"--no-identity"} << QStringList{} << 0
            << QStringList{"Identyfikator serwera: "}
            << QString::fromUtf8("identify: funkcja 43/14: wyjątek 1");
        QTest::newRow("silent device")
            << QStringList{"--drop", "1"} << QStringList{"--format", "csv"} << 3 << QStringList{}
            << QString::fromUtf8("identify: funkcja 17: brak odpowiedzi");
    }
    void identifyTheDevice() {
        QFETCH(QStringList, device);
        QFETCH(QStringList, format);
        QFETCH(int, status);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        Simulator sim(device, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, format + QStringList{"identify"});
        QCOMPARE(r.status, status);
        for (const QString& words : out)
            QVERIFY2(r.out.contains(words), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        for (const QString& request : sim.Requests())
            QVERIFY2(request.mid(2, 2) == "2B" || request.mid(2, 2) == "11", qPrintable(request));
    }

    // NAME.identity.json beside the device file names the registers that say the serial
    // number and firmware; a file that names what is not there is refused with its key.
    void identityFile_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("registers and an object")
            << QByteArray(R"({"serialNumber":"Numer seryjny","firmware":"Wersja",)"
                          R"("calibrationDate":"object:0x02"})")
            << 0 << "Numer seryjny: 70000\nOprogramowanie: 12\nData kalibracji: 1.0\n";
        QTest::newRow("an unknown key") << QByteArray(R"({"serial":"Numer seryjny"})") << 1
                                        << "TR100.identity.json: \"serial\": nieznany klucz";
        QTest::newRow("a register the file lacks")
            << QByteArray(R"({"serialNumber":"Seria"})") << 1
            << "\"serialNumber\": nie ma rejestru \"Seria\" w pliku urządzenia";
        QTest::newRow("a group") << QByteArray(R"({"firmware":"Identyfikacja"})") << 1
                                 << "nie ma rejestru \"Identyfikacja\"";
        QTest::newRow("an object past 255")
            << QByteArray(R"({"firmware":"object:300"})") << 1 << "obiekt 0-255";
        QTest::newRow("no JSON object") << QByteArray("[]") << 1 << "potrzebny obiekt JSON";
    }
    void identityFile() {
        QFETCH(QByteArray, json);
        QFETCH(int, status);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QVERIFY(QFile::copy(bin + "/TR100.dat", dir.path() + "/TR100.dat"));
        QFile file(dir.path() + "/TR100.identity.json");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"identify"}, dir.path() + "/TR100.dat");
        QCOMPARE(r.status, status);
        QVERIFY2((status == 0 ? r.out : r.err).contains(said), qPrintable(r.out + r.err));
    }

    // A calibration after an identification carries the serial number in its record; history
    // finds a device's records by it, and lists every record without one.
    void calibrationHistoryBySerialNumber() {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(bin + "/TR100F.dat", dir.path() + "/TR100F.dat"));
        QFile identity(dir.path() + "/TR100F.identity.json");
        QVERIFY(identity.open(QIODevice::WriteOnly));
        identity.write(R"({"serialNumber":"object:0x80"})");
        identity.close();
        const QString device = dir.path() + "/TR100F.dat", records = dir.path() + "/kalibracje";
        QVERIFY(QDir().mkpath(records));
        Simulator sim({"--identity", "0=Firma,1=TR100F,128=SN-77"}, "TR100F.dat");
        QVERIFY(sim.started());
        QCOMPARE(Run(&sim, {"--report", records + "/a.csv", "identify", "calibrate", "100R", "3"},
                     device)
                     .status,
                 0);
        QCOMPARE(
            Run(&sim, {"--report", records + "/b.csv", "calibrate", "400R", "2"}, device).status,
            0);
        QFile a(records + "/a.csv");
        QVERIFY(a.open(QIODevice::ReadOnly));
        QVERIFY(
            a.readAll().contains(QString::fromUtf8("Numer seryjny urządzenia;SN-77\r\n").toUtf8()));
        Result r = Run(nullptr, {"history", "SN-77", "--records", records});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.count('\n'), 1);
        QVERIFY2(
            r.out.contains(QString::fromUtf8("TR100F.dat adres 247 nr SN-77  100R  ukończona")),
            qPrintable(r.out));
        r = Run(nullptr, {"--format", "csv", "history", "--records", records});
        QCOMPARE(r.out.count('\n'), 1 + 2); // the header and both records
        QVERIFY(r.out.contains(",400R,"));
    }

    // A technician's round: a snapshot, two settings changed, a comparison that shows exactly
    // those two, a plan that writes nothing, a restore that writes exactly those two and reads
    // them back, and a comparison that is equal again.
    void snapshotCompareRestore() {
        Simulator sim({}, "TR100.dat", true);
        QVERIFY(sim.started());
        QTemporaryDir dir;
        const QString snapshot = dir.path() + "/przed.json";
        QCOMPARE(Run(&sim, {"snapshot", snapshot}).status, 0);
        QFile file(snapshot);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root.value("deviceType").toString(), QStringLiteral("TR100.dat"));
        QCOMPARE(root.value("registers").toArray().size(), 9); // RW and RP registers, RO never
        QCOMPARE(Run(&sim, {"write", "Tryb", "4", "write", "Korekta", "-77"}).status, 0);
        Result r = Run(&sim, {"compare", snapshot});
        QCOMPARE(r.status, 5);
        QVERIFY2(
            r.out.startsWith(QString::fromUtf8("zmienione 2, bez zmian 7, bez odpowiedzi 0\n")),
            qPrintable(r.out));
        QCOMPARE(r.out.count(QLatin1Char('*')), 2);
        QVERIFY(r.out.contains(QString::fromUtf8("* 200   Tryb: $01 -> $04")));
        r = Run(&sim, {"restore", snapshot});
        QCOMPARE(r.status, 0);
        QVERIFY(r.err.contains(QString::fromUtf8("nic nie zapisano")));
        r = Run(&sim, {"restore", snapshot, "--yes"});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QString::fromUtf8("Tryb: zapisano $01, odczyt $01")),
                 qPrintable(r.out));
        QCOMPARE(Run(&sim, {"compare", snapshot}).status, 0);
        int writes = 0;
        for (const QString& request : sim.Requests())
            writes += request.mid(2, 2) == "06" || request.mid(2, 2) == "10";
        QCOMPARE(writes, 2 + 2); // the two changes, then the two restored
    }

    // A device that acknowledges the write and keeps its value is said so (exit 5); a
    // snapshot of another device type is refused before anything is written.
    void restoreThatDoesNotTake() {
        QTemporaryDir dir;
        const QString snapshot = dir.path() + "/przed.json";
        {
            Simulator sim({});
            QVERIFY(sim.started());
            QCOMPARE(Run(&sim, {"snapshot", snapshot}).status, 0);
        }
        Simulator sim({"--set", "200=5", "--keep", "200"}, "TR100.dat", true);
        QVERIFY(sim.started());
        Result r = Run(&sim, {"--format", "json", "restore", snapshot, "--yes"});
        QCOMPARE(r.status, 5);
        QVERIFY2(r.err.contains(QString::fromUtf8("Tryb: zapisano $01, a urządzenie ma $05")),
                 qPrintable(r.err));
        const QStringList records = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(records.size(), 2); // the write and its read-back, records alone on stdout
        for (const QString& line : records)
            QCOMPARE(QJsonDocument::fromJson(line.toUtf8()).object().value("operation").toString(),
                     QStringLiteral("restore"));
        r = Run(&sim, {"restore", snapshot, "--yes"}, "TR100F.dat");
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(
            QString::fromUtf8("inny typ urządzenia: zrzut TR100.dat, teraz TR100F.dat")));
        int writes = 0;
        for (const QString& request : sim.Requests())
            writes += request.mid(2, 2) == "06" || request.mid(2, 2) == "10";
        QCOMPARE(writes, 1);
    }

    // Two snapshot files compared need no port; a file that is no snapshot says why.
    void compareTwoFiles() {
        QTemporaryDir dir;
        const QString a = dir.path() + "/a.json", b = dir.path() + "/b.json";
        {
            Simulator sim({});
            QVERIFY(sim.started());
            QCOMPARE(Run(&sim, {"snapshot", a}).status, 0);
            QCOMPARE(Run(&sim, {"write", "Okres uśredniania", "33", "snapshot", b}).status, 0);
        }
        Result r = Run(nullptr, {"--format", "csv", "compare", a, b});
        QCOMPARE(r.status, 5);
        QVERIFY2(r.out.contains(QString::fromUtf8("Okres uśredniania,203,10,33,1")) ||
                     r.out.contains(QString::fromUtf8("Okres uśredniania;203;10;33;1")),
                 qPrintable(r.out));
        QFile bad(dir.path() + "/bad.json");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("{\"format\":\"vardel-snapshot-1\",\"time\":\"2026-12-09T10:00:00\"}");
        bad.close();
        r = Run(nullptr, {"compare", a, bad.fileName()});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QString::fromUtf8("\"deviceType\": brak klucza")),
                 qPrintable(r.err));
    }

    // --rs485 on a port without direction control: one line on stderr says so, the reads
    // still get their replies.
    void rs485WithoutDirectionControl() {
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"--rs485", "read", "Wersja", "read", "Wersja"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.err.count(QString::fromUtf8("nie pozwala sterować kierunkiem RS-485")), 1);
        QCOMPARE(r.out.count(QStringLiteral("Wersja")), 2);
    }

    // Any standard rate; others are refused before anything opens.
    void baudRates_data() {
        QTest::addColumn<QString>("baud");
        QTest::addColumn<int>("status");
        for (const char* rate : {"1200", "4800", "38400", "115200"})
            QTest::newRow(rate) << rate << 0;
        QTest::newRow("300") << "300" << 2;
        QTest::newRow("19200.5") << "19200.5" << 2;
    }
    void baudRates() {
        QFETCH(QString, baud);
        QFETCH(int, status);
        Simulator sim({});
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"--baud", baud, "read", "Wersja"});
        QCOMPARE(r.status, status);
        if (status == 0) QCOMPARE(r.out, QStringLiteral("4    Wersja     12\n"));
    }

    // --slave with a list runs the commands for each address in turn: the records carry the
    // address, a silent one fails the run and says whose it was, and --stop-on-error skips
    // only that address's remaining commands.
    void severalSlaves_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("slaves"); // of the records, in order
        QTest::addColumn<int>("writes");         // sent, answered or not
        QTest::newRow("all answer") << QStringList{"--slave", "3,5-6"} << 0
                                    << QStringList{"3", "3", "5", "5", "6", "6"} << 3;
        QTest::newRow("one is silent") << QStringList{"--slave", "3,4,5"} << 3
                                       << QStringList{"3", "3", "4", "4", "5", "5"} << 3;
        QTest::newRow("--stop-on-error skips its write")
            << QStringList{"--slave", "4,3", "--stop-on-error"} << 3 << QStringList{"4", "3", "3"}
            << 1;
    }
    void severalSlaves() {
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, slaves);
        QFETCH(int, writes);
        Simulator sim({"--slave", "3,5,6"}, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, options + QStringList{"--format", "json", "read", "Wersja",
                                                         "write", "Tryb", "2"});
        QCOMPARE(r.status, status);
        QStringList seen;
        for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
            seen << QString::number(
                QJsonDocument::fromJson(line.toUtf8()).object().value("slave").toInt());
        QCOMPARE(seen, slaves);
        if (status != 0)
            QVERIFY2(r.err.contains(QString::fromUtf8("adres 4: 4 Wersja: brak odpowiedzi")),
                     qPrintable(r.err));
        QCOMPARE(sim.Requests().filter(QRegularExpression("^0.06")).size(), writes);
    }

    // A counted monitor of a device that never answers ends after 2 x COUNT + 5 requests.
    void monitorGivesUpOnASilentDevice() {
        Simulator sim({"--drop", "1"}, "TR100.dat", true);
        QVERIFY(sim.started());
        const Result r = Run(&sim, {"monitor", "Wersja", "100", "3"});
        QCOMPARE(r.status, 3);
        QCOMPARE(sim.Requests().filter(QRegularExpression("^F70400040001")).size(), 11);
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
        QTest::newRow("unknown command")
            << QStringList{} << QStringList{"erase"} << 2 << QString::fromUtf8("użycie:");
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
