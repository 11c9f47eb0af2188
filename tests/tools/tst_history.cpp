#include "tools/calrecord.h"
#include "tools/history.h"
#include <QtTest>

namespace {

CalibrationRecord Record(const QString& serial, const QString& device, const QString& slave,
                         const QDateTime& start) {
    CalibrationRecord r;
    r.start = start;
    r.end = start.addSecs(5);
    r.deviceFile = device;
    r.slave = slave;
    r.serialNumber = serial;
    r.range = "100R";
    r.samples = {"1000", "1002"};
    r.sampleTimes = {start, start};
    r.finished = true;
    r.meanText = "1001";
    return r;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    // The record's own CSV read back: its header fields, quoted ones too; a CSV that is no
    // calibration record is none.
    void recordsReadBack() {
        const QDateTime start(QDate(2026, 12, 9), QTime(10, 0, 1, 250));
        CalibrationRecord r = Record("SN;\"7\"", "TR100F.dat", "247", start);
        r.stored = true;
        r.storeValue = "1001";
        const auto back = RecordFromCsv(RecordCsv(r), "a.csv");
        QVERIFY(back);
        QCOMPARE(back->start, start);
        QCOMPARE(back->serialNumber, QStringLiteral("SN;\"7\""));
        QCOMPARE(back->deviceFile, QStringLiteral("TR100F.dat"));
        QCOMPARE(back->range, QStringLiteral("100R"));
        QCOMPARE(back->status, QString::fromUtf8("ukończona"));
        QCOMPARE(back->mean, QStringLiteral("1001"));
        QCOMPARE(back->stored, QStringLiteral("1001"));
        QVERIFY(!RecordFromCsv("czas;wartość\r\n1;2\r\n", "trend.csv"));
        QVERIFY(!RecordFromCsv(QByteArray(), "empty.csv"));
    }

    void historyOfADevice_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("slave");
        QTest::addColumn<int>("found");
        QTest::newRow("by serial, whatever the address") << "SN-1"
                                                         << ""
                                                         << "" << 2;
        QTest::newRow("another serial") << "SN-3"
                                        << "TR100F.dat"
                                        << "247" << 0;
        // Without a serial number every record of that file and address counts, whoever's.
        QTest::newRow("no serial: file and slave") << ""
                                                   << "TR100F.dat"
                                                   << "247" << 3;
        QTest::newRow("no serial, another slave") << ""
                                                  << "TR100F.dat"
                                                  << "5" << 1;
    }
    void historyOfADevice() {
        QFETCH(QString, serial);
        QFETCH(QString, device);
        QFETCH(QString, slave);
        QTemporaryDir dir;
        const QDateTime t(QDate(2026, 12, 1), QTime(8, 0));
        const QList<CalibrationRecord> made{Record("SN-1", "TR100F.dat", "247", t.addDays(2)),
                                            Record("SN-1", "TR100F.dat", "5", t),
                                            Record("", "TR100F.dat", "247", t.addDays(1)),
                                            Record("SN-2", "TR100F.dat", "247", t.addDays(3))};
        for (int i = 0; i < made.size(); ++i)
            SaveRecordCsv(made[i], dir.path() + QStringLiteral("/r%1.csv").arg(i));
        SaveRecordCsv(made[0], dir.path() + "/not-a-csv.txt"); // only CSV files are records
        const QList<HistoryRecord> all = ReadHistory(dir.path());
        QCOMPARE(all.size(), 4);
        QVERIFY(std::is_sorted(all.begin(), all.end(),
                               [](const auto& a, const auto& b) { return a.start < b.start; }));
        QTEST(int(HistoryOf(all, serial, device, slave).size()), "found");
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
