#include "app/mainwindow.h"
#include "app/procedurewindow.h"
#include "app/standardsdialog.h"
#include "integration/simulator.h"
#include <QtWidgets>

// "Procedura kalibracji…" as a technician goes through it against a miscalibrated simulated
// transducer: each "przyłóż" answered by applying the input and pressing Return, the boxes
// answered by their buttons, the certificate read from the records folder.
class TestProcedureWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString bin = qEnvironmentVariable("VARDEL_BIN");
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<TForm1> w;
    QStringList boxes;

    // What the operator does, looked at every 50 ms while the run waits in its own events.
    struct Hands {
        QStringList prompts, questions;
        QHash<QString, bool> answers{{"ConfirmAdjust", true}, {"ConfirmRestore", true}};
        QString typed; // typed over the suggested value at 400R, when not empty
        bool stopAtFirst = false;
    };

    void Start(const QStringList& faults = {}) {
        sim = std::make_unique<Simulator>(
            QStringList{"--transducer", "--gain", "10,05", "--offset", "3", "--control", "-"} +
                faults,
            "TR100F.dat", true);
        QVERIFY(sim->started());
        w->ComCBox->setEditText(sim->port());
        w->ComCBoxSelect();
        QVERIFY(w->link().isOpen());
    }

    // The window opened from the Kalibracja group's context menu and run through Start.
    void RunProcedure(Hands& hands, const std::function<void(ProcedureWindow&)>& check) {
        w->runProcedureWindow = [&](ProcedureWindow& window) {
            window.show();
            QTest::keyClicks(window.eOperator, QString::fromUtf8("Jan Kowalski"));
            QTest::keyClicks(window.eTemperature, "21,5");
            QTimer timer;
            QString lastPrompt;
            QElapsedTimer applied;
            connect(&timer, &QTimer::timeout, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    hands.questions << box->objectName() + ": " + box->text();
                    box->button(hands.answers.value(box->objectName()) ? QMessageBox::Yes
                                                                       : QMessageBox::No)
                        ->click();
                    return;
                }
                if (!window.eReference->isEnabled()) return;
                const QString prompt = window.lbInstruction->text();
                if (prompt != lastPrompt) { // a new point: the input goes to the transducer
                    lastPrompt = prompt;
                    hands.prompts << prompt;
                    if (hands.stopAtFirst) {
                        QTest::mouseClick(window.btStop, Qt::LeftButton);
                        return;
                    }
                    const QRegularExpression nominal(QString::fromUtf8("przyłóż (\\d+)"));
                    sim->Tell("input " + nominal.match(prompt).captured(1).toLatin1());
                    applied.start();
                    return;
                }
                if (applied.elapsed() < 400) return; // taken between two requests
                if (!hands.typed.isEmpty() && prompt.contains("400R")) {
                    window.eReference->selectAll();
                    QTest::keyClicks(window.eReference, hands.typed);
                }
                QTest::keyClick(window.eReference, Qt::Key_Return);
            });
            timer.start(50);
            QTest::mouseClick(window.btStart, Qt::LeftButton); // returns when the run has ended
            timer.stop();
            check(window);
            QTest::mouseClick(window.btClose, Qt::LeftButton);
        };
        const QPoint free(w->gbKal->width() - 8, w->gbKal->height() - 8);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, free, w->gbKal->mapToGlobal(free));
        QApplication::sendEvent(w->gbKal, &menu);
        auto* popup = w->findChild<QMenu*>("CalibrationMenu");
        QVERIFY(popup);
        QTRY_VERIFY(popup->isVisible());
        popup->findChild<QAction*>("ProceduraKalibracji")->trigger();
        popup->hide();
    }

    QStringList Writes() {
        QStringList writes;
        for (const QString& r : sim->Requests())
            if (r.startsWith("F706") || r.startsWith("F710")) writes << r;
        return writes;
    }

    static QStringList Column(const QTableWidget* table, int column) {
        QStringList cells;
        for (int r = 0; r < table->rowCount(); ++r)
            cells << (table->item(r, column) ? table->item(r, column)->text() : QString());
        return cells;
    }

    QStringList CsvLines(const QString& path) {
        QFile csv(path);
        if (!csv.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(csv.readAll().mid(3)).split("\r\n");
    }

private slots:
    void init() {
        QFile::copy(bin + "/TR100F.dat", dir.path() + "/TR100F.dat");
        QFile procedure(dir.path() + "/TR100F.procedure.json");
        QVERIFY(procedure.open(QIODevice::WriteOnly));
        procedure.write(R"({"title": "TR100F", "ranges": [{
            "range": "Rezystancja", "unit": "Ω", "span": [100, 400], "result": "Temperatura",
            "resolution": 0.01, "samples": 3, "spacingMs": 0, "tolerance": {"absolute": 0.1},
            "stability": {"band": 0.05, "seconds": 1}, "decisionRule": "guardBand", "points": [
              {"id": "100R", "nominal": 100,
               "adjust": {"kind": "storeMean", "sample": "R0", "register": "N100"}},
              {"id": "400R", "nominal": 400,
               "adjust": {"kind": "storeMean", "sample": "R0", "register": "N400"}}]}]})");
        procedure.close();
        QFile standards(dir.path() + "/wzorce.json");
        QVERIFY(standards.open(QIODevice::WriteOnly));
        standards.write(R"({"standards": [{"id": "R-07", "certificate": "AP-77/2026", "U": 0.002,
            "k": 2, "unit": "Ω", "due": "2099-01-01"}]})");
        standards.close();
        boxes.clear();
        w = std::make_unique<TForm1>(dir.path() + "/vardel");
        w->messageSink = [this](const QString& t, bool) { boxes << t; };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->cbxDeviceSelect("TR100F.dat");
        QVERIFY(w->gbKal->isVisible());
        QVERIFY(boxes.isEmpty());
    }
    void cleanup() {
        w->close();
        w.reset();
        sim.reset();
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    // As found fails at both points; the one box shows each write old -> new; exactly those
    // two registers are written and read back; as left passes; the certificate is numbered
    // and written with its PDF, CSV and SHA-256, and the log names it.
    void miscalibratedToPassing() {
        QFile identity(dir.path() + "/TR100F.identity.json");
        QVERIFY(identity.open(QIODevice::WriteOnly));
        identity.write(R"({"serialNumber": "object:0x80"})");
        identity.close();
        Start({"--identity", "0=Firma,1=TR100F,2=1.02,128=SN-0042"});
        Hands hands;
        hands.typed = "400,000"; // the standard's actual value, typed with a decimal comma
        QStringList results;
        QString result;
        RunProcedure(hands, [&](ProcedureWindow& window) {
            for (int r = 0; r < window.tblResults->rowCount(); ++r)
                results << QStringList{Column(window.tblResults, 0)[r],
                                       Column(window.tblResults, 1)[r],
                                       Column(window.tblResults, 4)[r],
                                       Column(window.tblResults, 9)[r]}
                               .join('|');
            result = window.lbResult->text();
            QVERIFY(window.btStart->isEnabled() && !window.btStop->isEnabled());
        });
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join('\n')));
        QCOMPARE(hands.prompts.size(), 4);
        QCOMPARE(hands.prompts[0],
                 QString::fromUtf8("Jak znaleziono, punkt 100R: przyłóż 100,000 Ω ze wzorca R-07"));
        QVERIFY(hands.prompts[3].startsWith(QString::fromUtf8("Jak pozostawiono, punkt 400R")));
        QCOMPARE(hands.questions.size(), 1);
        QVERIFY2(
            hands.questions[0].contains(QString::fromUtf8("N100 (300): 1000 → 1008 (różnica 8)")) &&
                hands.questions[0].contains(QString::fromUtf8("N400 (301): 4000 → 4023")),
            qPrintable(hands.questions[0]));
        QCOMPARE(results,
                 QStringList({QString::fromUtf8("jak znaleziono|100R|100,80 Ω|niezgodny"),
                              QString::fromUtf8("jak znaleziono|400R|402,30 Ω|niezgodny"),
                              QString::fromUtf8("regulacja|100R||"),
                              QString::fromUtf8("regulacja|400R||"),
                              QString::fromUtf8("jak pozostawiono|100R|100,00 Ω|zgodny"),
                              QString::fromUtf8("jak pozostawiono|400R|400,00 Ω|zgodny")}));
        const QString number = "VD-" + QString::number(QDate::currentDate().year()) + "-000001";
        QVERIFY2(result.startsWith(QString::fromUtf8("Wynik: zgodny. Protokół ") + number),
                 qPrintable(result));
        const QString records = dir.path() + "/kalibracje/" + number;
        QVERIFY(QFile::exists(records + ".pdf") && QFile::exists(records + ".pdf.sha256"));
        const QStringList csv = CsvLines(records + ".csv");
        QVERIFY(csv.contains(QString::fromUtf8("Wykonał;Jan Kowalski")));
        QVERIFY(csv.contains(QString::fromUtf8("Temperatura otoczenia;21,5 °C")));
        QVERIFY(csv.contains(QString::fromUtf8("100R;N100;300;1000;1008;1008;tak;tak;nie")));
        QVERIFY(csv.contains(QString::fromUtf8("Wynik;zgodny")));
        // The identity read before the first point, for the record.
        QVERIFY(csv.contains(QString::fromUtf8("Numer seryjny;SN-0042")));
        QVERIFY(csv.contains(QString::fromUtf8("Oprogramowanie;1.02")));
        QVERIFY(w->LogText().contains(
            QString::fromUtf8("Procedura kalibracji: protokół %1, wynik: zgodny").arg(number)));
        const QStringList writes = Writes();
        QCOMPARE(writes.size(), 2);
        QVERIFY2(writes[0].startsWith("F706012C03F0"), qPrintable(writes[0])); // N100 1008
        QVERIFY2(writes[1].startsWith("F706012D0FB7"), qPrintable(writes[1])); // N400 4023
    }

    // The device acknowledges N100 and keeps its old value: the window says so, the operator
    // has the old values written back, and the record says the run ended there.
    void writeThatDoesNotHoldIsRestored() {
        Start({"--keep", "300"});
        Hands hands;
        QString result;
        QStringList adjustment;
        RunProcedure(hands, [&](ProcedureWindow& window) {
            result = window.lbResult->text();
            for (int r = 0; r < window.tblResults->rowCount(); ++r)
                if (window.tblResults->item(r, 0)->text() == "regulacja")
                    adjustment << window.tblResults->item(r, 2)->text();
        });
        QCOMPARE(hands.prompts.size(), 2); // no as left
        QCOMPARE(hands.questions.size(), 2);
        QVERIFY2(hands.questions[1].startsWith("ConfirmRestore: ") &&
                     hands.questions[1].contains(
                         QString::fromUtf8("N100: zapisano 1008, odczytano 1000 – nie przyjęte")),
                 qPrintable(hands.questions[1]));
        QCOMPARE(adjustment,
                 QStringList({QString::fromUtf8("N100: 1000 → 1008, odczytano 1000, przywrócono"),
                              QString::fromUtf8("N400: 4000 → 4023, odczytano 4023")}));
        QVERIFY2(result.startsWith(QString::fromUtf8("Wynik: przerwana (regulacja nieudana")),
                 qPrintable(result));
        const QStringList writes = Writes();
        QCOMPARE(writes.size(), 3); // both, then N400's old value; N100 never changed
        QVERIFY2(writes[2].startsWith("F706012D0FA0"), qPrintable(writes[2])); // N400 4000
    }

    // "Przerwij" at the first point: nothing is written, and the record of the stopped run
    // is there all the same.
    void stoppedAtTheFirstPoint() {
        Start();
        Hands hands;
        hands.stopAtFirst = true;
        QString result;
        RunProcedure(hands, [&](ProcedureWindow& window) {
            result = window.lbResult->text();
            QCOMPARE(window.tblResults->rowCount(), 0);
        });
        QCOMPARE(hands.prompts.size(), 1);
        QVERIFY2(
            result.startsWith(QString::fromUtf8("Wynik: przerwana (przerwana przez operatora")),
            qPrintable(result));
        const QStringList csv =
            CsvLines(dir.path() + "/kalibracje/VD-" + QString::number(QDate::currentDate().year()) +
                     "-000001.csv");
        QVERIFY(csv.contains(
            QString::fromUtf8("Stan;przerwana: przerwana przez operatora w punkcie 100R")));
        QVERIFY(Writes().isEmpty());
    }

    // "Wzorce…": a standard added by typing, its U with a decimal comma, saved to wzorce.json;
    // a row whose U is no number is refused with its row and column, and the file is kept.
    void standardsEditor() {
        QStringList refused;
        w->runStandardsDialog = [&](StandardsDialog& dialog) {
            dialog.show();
            QTableWidget* table = dialog.table();
            QCOMPARE(table->rowCount(), 1);
            QCOMPARE(table->item(0, 10)->text(), QString::fromUtf8("ważny"));
            QTest::mouseClick(dialog.findChild<QPushButton*>("btAdd"), Qt::LeftButton);
            QCOMPARE(table->rowCount(), 2);
            // The open editor of a cell, as the operator sees it.
            auto editor = [&] {
                for (auto* e : table->viewport()->findChildren<QLineEdit*>())
                    if (e->isVisible()) return e;
                return static_cast<QLineEdit*>(nullptr);
            };
            auto enter = [&](const QString& text) {
                QLineEdit* e = editor();
                QVERIFY(e);
                e->selectAll();
                QTest::keyClicks(e, text);
                QTest::keyClick(e, Qt::Key_Return);
                QApplication::processEvents(); // the delegate commits on its next turn
            };
            auto type = [&](int column, const QString& text) {
                table->scrollToItem(table->item(1, column));
                const QPoint at = table->visualItemRect(table->item(1, column)).center();
                QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, at);
                enter(text);
            };
            enter("R-08"); // "Dodaj" opened the new row's Id
            type(6, "abc");
            type(9, "2020-01-31");
            QCOMPARE(table->item(1, 10)->text(), QString::fromUtf8("po terminie wzorcowania"));
            try {
                dialog.Save();
            } catch (const AppError& e) {
                refused << e.message();
            }
            type(6, "0,0035");
            dialog.Save();
            dialog.accept();
        };
        w->findChild<QAction*>("Wzorce")->trigger();
        QCOMPARE(refused, QStringList{QString::fromUtf8(
                              "Wzorce: wiersz 2, U: \"abc\" nie jest liczbą dodatnią")});
        const QList<ReferenceStandard> saved = ReadStandardsFile(dir.path() + "/wzorce.json");
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved[0].certificate, QString("AP-77/2026"));
        QCOMPARE(saved[1].id, QString("R-08"));
        QCOMPARE(saved[1].U, 0.0035);
        QVERIFY(saved[1].overdue(QDate::currentDate()));
    }
};

QTEST_MAIN(TestProcedureWindow)
#include "tst_procwindow.moc"
