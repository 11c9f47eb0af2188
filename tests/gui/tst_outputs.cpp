#include "app/trendwindow.h"
#include "platform.h"
#include "regmap/error.h"
#include "report/calpdf.h"
#include "smalldisk.h"
#include "tools/calrecord.h"
#include <QtTest>
#include <QtWidgets>

// Every file the program writes is saved as the log is: whole or not at all, and only over a
// regular file. A pipe, a device or a full disk under an output's name gives an error and
// leaves what was there.
class TestOutputs : public QObject {
    Q_OBJECT
    QString bin = qEnvironmentVariable("VARDEL_BIN");

    static CalibrationRecord Record() {
        CalibrationRecord r;
        r.start = r.end = QDateTime(QDate(2026, 12, 9), QTime(10, 0));
        r.deviceFile = "TR100F.dat";
        r.range = "100R";
        for (int i = 0; i < 400; ++i) { // large enough to overflow a 64 kB disk as a PDF
            r.samples << QString::number(1000 + i % 7);
            r.sampleTimes << r.start.addMSecs(200 * i);
        }
        r.finished = true;
        return r;
    }

    // Writes the output to the path; the error's text, or empty when it was written.
    QString Write(const QString& output, const QString& path) {
        QString error;
        try {
            if (output == "record CSV") SaveRecordCsv(Record(), path);
            if (output == "record PDF") SaveRecordPdf(Record(), path);
        } catch (const AppError& e) {
            error = e.message();
        }
        if (output.startsWith("trend")) {
            TrendWindow trend("R0");
            for (int i = 0; i < 5000; ++i)
                trend.AddValue(qint64(1765000000000) + 100 * i, 1000.0 + i % 13);
            trend.askSavePath = [&](const QString&, const QString&, const QString&) {
                return path;
            };
            trend.messageSink = [&](const QString& text) { error = text; };
            trend.show();
            (output == "trend CSV" ? trend.btCsv : trend.btImage)->click();
        }
        if (output == "device file") {
            QProcess dev;
            dev.start(bin + "/vardel-dev",
                      {"build", QFINDTESTDATA("../../devices/TR300F.json"), "-o", path});
            if (!dev.waitForFinished(10000)) dev.kill();
            if (dev.exitCode() != 0) error = QString::fromUtf8(dev.readAllStandardError());
        }
        return error;
    }

    static void Outputs() {
        QTest::addColumn<QString>("output");
        for (const char* o : {"record CSV", "record PDF", "trend CSV", "trend PNG", "device file"})
            QTest::newRow(o) << QString(o);
    }

private slots:
    void specialFilesAreNeverWritten_data() {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("kind");
        for (const char* o : {"record CSV", "record PDF", "trend CSV", "trend PNG", "device file"})
            for (const char* k : {"fifo", "device"})
                QTest::newRow(qPrintable(QString("%1 onto a %2").arg(o, k)))
                    << QString(o) << QString(k);
    }
    void specialFilesAreNeverWritten() {
        QFETCH(QString, output);
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.path() + "/special.out";
        const QStringList make = kind == "device" ? QStringList{"mknod", path, "c", "1", "7"}
                                                  : QStringList{"mkfifo", path};
        SKIP_ON_WINDOWS("FIFOs and device nodes");
        if (QProcess::execute(make[0], make.mid(1)) != 0) QSKIP("cannot make it (needs root?)");
        const QString error = Write(output, path);
        QVERIFY2(error.contains(QString::fromUtf8("nie jest zwykłym plikiem")), qPrintable(error));
        QVERIFY(!QFileInfo(path).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"special.out"});
    }

    void fullDiskKeepsTheEarlierFile_data() { Outputs(); }
    void fullDiskKeepsTheEarlierFile() {
        QFETCH(QString, output);
        const SmallDisk disk("64k");
        SKIP_ON_WINDOWS("a small tmpfs");
        if (!disk.mounted()) QSKIP("mounting a small tmpfs needs root");
        const QString path = disk.path() + "/out";
        {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("wcześniejszy");
        }
        QFile filler(disk.path() + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'f')) > 0) {
        }
        filler.close();
        QFile::remove(disk.path() + "/filler");
        { // 6 kB free: less than any of these outputs
            QFile leave(disk.path() + "/leave");
            QVERIFY(leave.open(QIODevice::WriteOnly));
            leave.write(QByteArray(64 * 1024 - 6 * 1024 - 4096, 'l'));
        }
        const QString error = Write(output, path);
        QVERIFY2(error.startsWith(QStringLiteral("Cannot create file")) ||
                     error.contains(QStringLiteral("Cannot create file")),
                 qPrintable(error));
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), QByteArray("wcześniejszy"));
        QCOMPARE(QDir(disk.path()).entryList(QDir::Files), (QStringList{"leave", "out"}));
    }
};

QTEST_MAIN(TestOutputs)
#include "tst_outputs.moc"
