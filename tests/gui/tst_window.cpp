#include "app/logview.h"
#include "app/mainwindow.h"
#include "app/translations.h"
#include "platform.h"
#include "regmap/devicefile.h"
#include "smalldisk.h"
#include "tools/places.h"
#include <QStandardPaths>
#include <QtTest>
#include <QtWidgets>

namespace {
struct Message {
    QString text;
    bool error;
};

QColor Fill(QWidget* w) {
    return w->palette().color(QPalette::Window);
}
} // namespace

// The real window, offscreen, in a directory of its own.
class TestWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString bin = qEnvironmentVariable("VARDEL_BIN");

    struct Closing {
        void operator()(TForm1* w) const {
            w->close();
            delete w;
        }
    };
    std::unique_ptr<TForm1, Closing> NewWindow(QList<Message>* messages) {
        std::unique_ptr<TForm1, Closing> w(new TForm1(dir.path() + "/vardel"));
        w->messageSink = [messages](const QString& t, bool e) { messages->append({t, e}); };
        w->askQuestion = [messages](const QString& t) { // answered "Tak"
            messages->append({t, false});
            return true;
        };
        return w;
    }

private slots:
    void initTestCase() {
        for (const char* name : {"TR100.dat", "TR100F.dat"})
            QVERIFY(QFile::copy(bin + '/' + name, dir.path() + '/' + name));
        QFile::copy(bin + "/TR100F.dat", dir.path() + "/tr100f.dat");
        QFile bad(dir.path() + "/Zepsuty.DAT");
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("E V\0T\0\2\0 \0F!", 12);
    }

    void defaults() {
        QList<Message> messages;
        auto w = NewWindow(&messages);
        QCOMPARE(w->windowTitle(), QStringLiteral("vardel"));
        QCOMPARE(w->size(), QSize(786, 556));
        QCOMPARE(w->minimumSize(), w->maximumSize());
        auto combo = [&](const char* n) { return w->findChild<QComboBox*>(n); };
        auto edit = [&](const char* n) { return w->findChild<QLineEdit*>(n)->text(); };
        QCOMPARE(combo("ComCBox")->currentText(), QString());
        QCOMPARE(combo("cbxBaud")->currentText(), QStringLiteral("19200"));
        QCOMPARE(combo("cbxBaud")->count(), 2);
        QCOMPARE(combo("cbxParity")->currentText(), QStringLiteral("even"));
        QCOMPARE(combo("cbxParity")->itemText(0), QStringLiteral("none"));
        QCOMPARE(combo("cbxDevice")->currentText(), QString());
        QCOMPARE(combo("cbxKalibracja")->currentText(), QString());
        QCOMPARE(combo("cbxKalibracja")->itemText(1), QStringLiteral("400R"));
        QCOMPARE(edit("eSlave"), QStringLiteral("247"));
        QCOMPARE(edit("ePeriod"), QStringLiteral("2000"));
        QCOMPARE(edit("eCount"), QStringLiteral("16"));
        QCOMPARE(edit("eMed"), QStringLiteral("8"));
        QCOMPARE(w->findChild<QPushButton*>("btReset")->text(), QStringLiteral("Reset"));
        QCOMPARE(w->findChild<QPushButton*>("Button1")->text(), QStringLiteral("Start"));
        QCOMPARE(w->findChild<QPushButton*>("btZapisz")->text(), QStringLiteral("Zapisz"));
        QVERIFY(!w->findChild<QCheckBox*>("cbMonitor")->isChecked());
        QCOMPARE(w->findChild<QCheckBox*>("cbMonitor")->text(), QStringLiteral("Monitorowanie"));
        QCOMPARE(w->findChild<QLabel*>("lbTX")->text(), QStringLiteral("-"));
        QCOMPARE(w->findChild<QLabel*>("lbRX")->text(), QStringLiteral("-"));
        QCOMPARE(w->findChild<QLabel*>("lbReg")->text(), QString());
        QCOMPARE(w->findChild<QGroupBox*>("gbMon")->title(), QStringLiteral(" Monitor "));
        QCOMPARE(w->findChild<QGroupBox*>("GroupBox3")->title(), QStringLiteral(" modbus  "));
        QVERIFY(w->findChild<QGroupBox*>("gbKal")->isHidden());
        QCOMPARE(Fill(w->findChild<QFrame*>("shConnect")), QColor(0xA0, 0xA0, 0xA4));
        auto* memo = w->findChild<LogView*>("Memo1");
        QCOMPARE(memo->toPlainText(), QString());
        QCOMPARE(memo->toolTip(), QStringLiteral("Okno logów"));
        auto* vt = w->findChild<QTreeView*>("VT");
        QCOMPARE(vt->model()->rowCount(), 0);
        QCOMPARE(vt->toolTip(), QString::fromUtf8("Okno rejestrów"));
        QCOMPARE(vt->model()->headerData(2, Qt::Horizontal).toString(),
                 QString::fromUtf8("Wartość"));
        QCOMPARE(vt->header()->sectionSize(0), 144);
        QVERIFY(messages.isEmpty());
    }

    void listsDeviceFilesOnFocus() {
        QList<Message> messages;
        auto w = NewWindow(&messages);
        w->cbxDeviceEnter();
        auto* box = w->findChild<QComboBox*>("cbxDevice");
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
#ifdef Q_OS_WIN // names differing in case only are one file there
        QCOMPARE(items, (QStringList{"TR100.dat", "TR100F.dat", "Zepsuty.DAT"}));
#else
        QCOMPARE(items, (QStringList{"TR100.dat", "TR100F.dat", "tr100f.dat", "Zepsuty.DAT"}));
#endif
    }

    void loadShowsCalibrationByName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("calibration");
        QTest::newRow("F.dat") << "TR100F.dat" << true;
        QTest::newRow("f.dat lower case") << "tr100f.dat" << false;
        QTest::newRow("general") << "TR100.dat" << false;
    }
    void loadShowsCalibrationByName() {
        QFETCH(QString, name);
        QFETCH(bool, calibration);
        QList<Message> messages;
        auto w = NewWindow(&messages);
        w->show();
        w->cbxDeviceSelect(name);
        QVERIFY(messages.isEmpty());
        QCOMPARE(w->findChild<QGroupBox*>("gbKal")->isVisible(), calibration);
        auto* vt = w->findChild<QTreeView*>("VT");
        QCOMPARE(vt->model()->rowCount(), 2 + (name == "TR100.dat"));
        QVERIFY(!vt->isExpanded(vt->model()->index(0, 0)));
        QCOMPARE(vt->model()->index(0, 0).data().toString(),
                 QString(name == "TR100.dat" ? "Identyfikacja" : "Pomiar"));
    }

    void loadErrorsShowTheMessage() {
        QList<Message> messages;
        auto w = NewWindow(&messages);
        w->cbxDeviceSelect("TR100.dat");
        w->cbxDeviceSelect("Zepsuty.DAT");
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages[0].text,
                 QStringLiteral("Unable to load tree structure, the format is wrong."));
        QVERIFY(messages[0].error);
        QCOMPARE(w->findChild<QTreeView*>("VT")->model()->rowCount(), 0);
        w->cbxDeviceSelect("brak.dat");
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages[1].text.startsWith("Cannot open file \"" + dir.path() + "/brak.dat\". "));
        QVERIFY(messages[1].text.endsWith('.'));
    }

    // A run that ends without a clean close leaves its journal; the next start recovers it.
    void journalRecoversTheLinesOfACrashedRun() {
        QTemporaryDir own;
        const QString exe = own.path() + "/vardel";
        {
            auto w = std::make_unique<TForm1>(exe);
            w->AppendLogLine(QString::fromUtf8("przed awarią"));
            w->AppendLogLine("");
            QVERIFY(QFile::exists(exe + ".log.journal"));
        }                         // destroyed without closing, as by a crash
        QFile good(exe + ".log"); // the last log a clean close saved
        QVERIFY(good.open(QIODevice::WriteOnly));
        good.write("ostatni dobry\r\n");
        good.close();
        TForm1 next(exe);
        const QStringList recovered = QDir(own.path()).entryList({"vardel.*.recovered.log"});
        QCOMPARE(recovered.size(), 1);
        QFile f(own.path() + '/' + recovered[0]);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("przed awari\xB9\r\n\r\n"));
        QVERIFY(next.LogText().startsWith(QString::fromUtf8("Odzyskano dziennik")));
        QVERIFY(next.LogText().contains(recovered[0]));
        next.close();
        QVERIFY(!QFile::exists(exe + ".log.journal"));
        // Its own start-up lines are no log worth saving: the last good log stays.
        QVERIFY(good.open(QIODevice::ReadOnly));
        QCOMPARE(good.readAll(), QByteArray("ostatni dobry\r\n"));
    }

    // Two windows in one folder: each journals its own lines, an empty close of one leaves
    // the other's journal, and the one that closes last does not replace the log the other
    // saved meanwhile: its own goes beside it under a dated name, and it says so.
    void twoWindowsInOneFolder() {
        QTemporaryDir own;
        const QString exe = own.path() + "/vardel";
        QList<Message> messages;
        auto first = std::make_unique<TForm1>(exe);
        auto second = std::make_unique<TForm1>(exe);
        for (TForm1* w : {first.get(), second.get()})
            w->messageSink = [&](const QString& t, bool e) { messages.append({t, e}); };
        first->AppendLogLine("pierwsze");
        second->AppendLogLine("drugie");
        first->AppendLogLine("pierwsze 2");
        auto journal = [&](const QString& name) {
            QFile f(own.path() + '/' + name);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
        };
        QCOMPARE(journal("vardel.log.journal"), QByteArray("pierwsze\r\npierwsze 2\r\n"));
        QCOMPARE(journal("vardel.log.2.journal"), QByteArray("drugie\r\n"));
        auto third = std::make_unique<TForm1>(exe); // starts while both run: recovers nothing
        QCOMPARE(third->LogText(), QString());
        third->close();
        QCOMPARE(journal("vardel.log.journal"), QByteArray("pierwsze\r\npierwsze 2\r\n"));
        second->close();
        QCOMPARE(journal("vardel.log"), QByteArray("drugie\r\n"));
        QVERIFY(messages.isEmpty());
        first->close();
        QCOMPARE(journal("vardel.log"), QByteArray("drugie\r\n"));
        const QStringList dated = QDir(own.path()).entryList({"vardel.*-*-*_*.log"});
        QCOMPARE(dated.size(), 1);
        QCOMPARE(journal(dated[0]), QByteArray("pierwsze\r\npierwsze 2\r\n"));
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].text.contains(dated[0]));
        QVERIFY(QDir(own.path()).entryList({"*.journal", "*.lock"}).isEmpty());
    }

    // What the operator types into the log reaches the journal within a second.
    void typedNotesAreJournaled() {
        QTemporaryDir own;
        const QString exe = own.path() + "/vardel";
        TForm1 w(exe);
        auto* memo = w.findChild<LogView*>("Memo1");
        w.AppendLogLine("100  Temperatura23,50");
        memo->setCursorPosition(memo->buffer().End());
        QTest::keyClicks(memo, "notatka ");
        QTest::sendKeyEvent(QTest::Click, memo, Qt::Key_unknown, QString::fromUtf8("ł"),
                            Qt::NoModifier);
        auto journal = [&] {
            QFile f(exe + ".log.journal");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
        };
        QTRY_COMPARE_WITH_TIMEOUT(journal(), QByteArray("100  Temperatura23,50\r\nnotatka \xB3"),
                                  1000);
        // Lines never saved to a file: "Wyczyść" asks once, and "Nie" keeps them.
        QStringList questions;
        bool yes = false;
        w.askQuestion = [&](const QString& text) {
            questions << text;
            return yes;
        };
        w.findChild<QAction*>("Wyczy1")->trigger();
        QCOMPARE(questions.size(), 1);
        QVERIFY(w.LogText().startsWith("100  Temperatura"));
        yes = true;
        w.findChild<QAction*>("Wyczy1")->trigger();
        QCOMPARE(questions.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(journal(), QByteArray(), 1000);
        // What a file holds is cleared without a question.
        w.AppendLogLine("zapisane");
        w.askSaveFileName = [&] { return own.path() + "/kopia.log"; };
        w.findChild<QAction*>("Zapiszdopliku1")->trigger();
        w.findChild<QAction*>("Wyczy1")->trigger();
        QCOMPARE(questions.size(), 2);
        QCOMPARE(w.LogText(), QString());
        w.close();
    }

    // A device file with a name of five million characters: the window draws a few hundred
    // of them, so loading, clicking and typing stay quick; the record keeps the whole name.
    void hugeNameIsDrawnShort() {
        QTemporaryDir own;
        RegisterTree tree;
        TreeNode* group = tree.appendTopLevel();
        group->record.Name = "G";
        group->states |= NodeState::HasChildren;
        const QString huge(5000000, 'A');
        group->appendChild()->record = {
            huge + "\r\n300  N100:      9999", "", "203", "WORD", "1", "RW", "1"};
        QFile file(own.path() + "/HUGE.dat");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(WriteDeviceFile(tree));
        file.close();
        QList<Message> messages;
        TForm1 w(own.path() + "/vardel");
        w.messageSink = [&](const QString& t, bool e) { messages.append({t, e}); };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QElapsedTimer clock;
        clock.start();
        w.cbxDeviceSelect("HUGE.dat");
        auto* view = w.findChild<QTreeView*>("VT");
        view->expandAll();
        TreeNode* reg = w.tree().topLevel()[0]->children()[0];
        const QModelIndex at = view->model()->index(0, 0, view->model()->index(0, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(at).center());
        QCoreApplication::processEvents();
        w.AppendLogLine(reg->record.Name); // a log line as long as the name
        QCoreApplication::processEvents();
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(messages.isEmpty());
        const QString shown = view->model()->data(at).toString();
        QVERIFY(shown.size() <= 300);
        QVERIFY(shown.startsWith("AAAA"));
        QVERIFY(w.lbReg->text().size() <= 301);
        QCOMPARE(reg->record.Name.size(), huge.size() + 22);
        w.askQuestion = [](const QString&) { return true; };
        w.findChild<QAction*>("Wyczy1")->trigger();
    }

    // Qt's own texts come in Polish: the save dialog and the buttons.
    void qtTextsInPolish() {
        QVERIFY(InstallQtTranslations(*QCoreApplication::instance()));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"),
                 QString::fromUtf8("Zachowaj jako"));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Anuluj"));
    }

    // A portable folder that cannot be written (a write-protected USB stick) keeps its log in
    // the user's folder and still lists the device files beside the program.
    void readOnlyPortableFolder() {
        SKIP_ON_WINDOWS("a read-only tmpfs");
        SmallDisk stick("1M");
        if (!stick.mounted()) QSKIP("mounting a small tmpfs needs root");
        QVERIFY(QFile::copy(bin + "/TR100.dat", stick.path() + "/TR100.dat"));
        QCOMPARE(QProcess::execute("mount", {"-o", "remount,ro", stick.path()}), 0);
        QTemporaryDir user;
        const Places places = PlacesFor(stick.path() + "/vardel", user.path());
        QCOMPARE(places.logPath, user.path() + "/vardel.log");
        QCOMPARE(DeviceFileNames(places), QStringList{"TR100.dat"});
        QCOMPARE(DeviceFilePath(places, "TR100.dat"), stick.path() + "/TR100.dat");
    }

    // An installed program (<prefix>/bin beside <prefix>/share/vardel/devices) lists the
    // device files of the user's folder and the installed ones, the user's winning, and writes
    // its log to the user's data folder, never beside the executable.
    void installedProgramUsesTheUserFolder() {
        QStandardPaths::setTestModeEnabled(true);
        const QString user = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QDir(user).removeRecursively();
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.path() + "/bin"));
        QVERIFY(QDir().mkpath(prefix.path() + "/share/vardel/devices"));
        QVERIFY(QDir().mkpath(user + "/devices"));
        for (const char* name : {"TR100.dat", "TR100F.dat"})
            QVERIFY(QFile::copy(bin + '/' + name, prefix.path() + "/share/vardel/devices/" + name));
        QVERIFY(QFile::copy(bin + "/TR100F.dat", user + "/devices/TR100.dat")); // the user's own
        QList<Message> messages;
        {
            TForm1 w(prefix.path() + "/bin/vardel");
            w.messageSink = [&](const QString& t, bool e) { messages.append({t, e}); };
            w.cbxDeviceEnter();
            QCOMPARE(w.cbxDevice->count(), 2);
            w.cbxDeviceSelect("TR100.dat");
            QVERIFY(w.tree().FindNodeByName("R0")); // the user's file won
            w.AppendLogLine("zapis");
            w.close();
        }
        QVERIFY(messages.isEmpty());
        QVERIFY(QFile::exists(user + "/vardel.log"));
        QCOMPARE(QDir(prefix.path() + "/bin").entryList(QDir::Files), QStringList());
        QDir(user).removeRecursively();
        QStandardPaths::setTestModeEnabled(false);
    }

    void closeSavesTheLogOnlyWhenItHoldsLines() {
        const QString log = dir.path() + "/vardel.log";
        QFile::remove(log);
        QList<Message> messages;
        {
            auto w = NewWindow(&messages);
            w->close();
        }
        QVERIFY(!QFile::exists(log));
        {
            auto w = NewWindow(&messages);
            w->AppendLogLine("a");
            w->AppendLogLine("");
            w->AppendLogLine(QString::fromUtf8("bą"));
            w->close();
        }
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("a\r\n\r\nb\xB9\r\n"));
        QVERIFY(messages.isEmpty());
    }

    // Undo in the log window must not take back lines the program appended; typed text stays.
    void undoKeepsTheAppendedLines() {
        QList<Message> messages;
        auto w = NewWindow(&messages);
        auto* memo = w->findChild<LogView*>("Memo1");
        w->AppendLogLine("1000  Temp       23,50");
        w->AppendLogLine("1001  Wilg       40");
        memo->setCursorPosition(memo->buffer().End());
        QTest::keyClicks(memo, "uwaga");
        const QString before = w->LogText();
        QVERIFY(before.endsWith("40\nuwaga"));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(memo, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w->LogText(), before);
        w->findChild<QAction*>("Wyczy1")->trigger();
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
