#include "app/logview.h"
#include "app/mainwindow.h"
#include "app/treemodel.h"
#include "app/trendwindow.h"
#include "driver.h"
#include "integration/simulator.h"
#include <QProcess>
#include <QtWidgets>
#include <modbus/modbus.h>

// The window as a technician drives it, on a realistic device file (nested groups, hundreds
// of registers, every type and option kind): what is on screen is what the device said, or
// visibly not, and nothing is written that the operator did not ask for.
class TestTruth : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString bin = qEnvironmentVariable("VARDEL_BIN");
    QStringList boxes, questions;
    bool answerYes = true;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<TForm1> w;

    TreeNode* Node(const char* name) { return w->tree().FindNodeByName(QString::fromUtf8(name)); }
    QModelIndex Index(TreeNode* node, int column = 0) { return IndexOf(*w, node, column); }
    QRect Cell(TreeNode* node, int column) { return CellOf(*w, node, column); }
    void Click(TreeNode* node, int column = 0) { ClickCell(*w, node, column); }
    // The right button, then the context menu the system sends for it.
    void RightClick(TreeNode* node) {
        const QPoint at = Cell(node, 0).center();
        QTest::mouseClick(w->VT->viewport(), Qt::RightButton, {}, at);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, at, w->VT->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w->VT->viewport(), &menu);
    }
    void DoubleClick(TreeNode* node, int column) { DoubleClickCell(*w, node, column); }
    void ClickMark(TreeNode* node) {
        ClickCheckMark(*w, node);
        Settle();
    }
    QString Shown(TreeNode* node) {
        return w->model()->data(Index(node, 2), Qt::DisplayRole).toString();
    }
    QVariant Colour(TreeNode* node) { return w->model()->data(Index(node, 2), Qt::ForegroundRole); }
    void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    void Start(const QStringList& faults = {}) {
        sim = std::make_unique<Simulator>(faults, "TR300F.dat", true);
        QVERIFY(sim->started());
        w->ComCBox->setEditText(sim->port());
        w->ComCBoxSelect();
        QVERIFY(w->link().isOpen());
    }
    // The words the device holds, as a reference master reads them.
    QList<quint16> Holding(int address, int count = 1) {
        w->Disconnect();
        modbus_t* ctx = modbus_new_rtu(qPrintable(sim->port()), 19200, 'E', 8, 1);
        modbus_set_slave(ctx, 247);
        QList<quint16> words(count, 0xDEAD);
        if (modbus_connect(ctx) == 0) modbus_read_registers(ctx, address, count, words.data());
        modbus_close(ctx);
        modbus_free(ctx);
        w->ComCBoxSelect();
        return words;
    }
    QStringList Writes() {
        QStringList writes;
        for (const QString& r : sim->Requests())
            if (r.startsWith("F706") || r.startsWith("F710")) writes << r;
        return writes;
    }
    QLineEdit* OpenEditor(TreeNode* node) {
        DoubleClick(node, 2);
        return qobject_cast<QLineEdit*>(QApplication::focusWidget());
    }

private slots:
    void init() {
        QFile::copy(bin + "/TR300F.dat", dir.path() + "/TR300F.dat");
        boxes.clear();
        questions.clear();
        answerYes = true;
        w = std::make_unique<TForm1>(dir.path() + "/vardel");
        w->messageSink = [this](const QString& t, bool) { boxes << t; };
        w->askQuestion = [this](const QString& t) {
            questions << t;
            return answerYes;
        };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->cbxDeviceSelect("TR300F.dat");
        QVERIFY(boxes.isEmpty());
    }
    void cleanup() {
        w->close();
        w.reset();
        sim.reset();
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
    }

    // A value from the file is grey with a tool tip until the device has said it; a read
    // turns it normal, and a failed read shows the cell empty at once.
    void fileValuesAreNotReadings() {
        TreeNode* temp = Node("Temperatura");
        QCOMPARE(Shown(temp), QStringLiteral("23,50"));
        QCOMPARE(Colour(temp), QVariant(QColor(0x80, 0x80, 0x80)));
        QCOMPARE(w->model()->data(Index(temp, 2), Qt::ToolTipRole).toString(),
                 QString::fromUtf8("wartość z pliku urządzenia, nieodczytana"));
        Start();
        DoubleClick(temp, 0);
        QCOMPARE(Shown(temp), QStringLiteral("23,50"));
        QVERIFY(!Colour(temp).isValid());
        QVERIFY(w->model()->data(Index(temp, 2), Qt::ToolTipRole).isNull());
    }
    // A device slower than the 40 ms window: its reads fail until "Ustawienia łącza…" gives
    // the line 400 ms; then the value is right, and the group's tool tip says what changed.
    // A new window starts with the defaults again.
    void slowDeviceAfterLineSettings() {
        Start({"--delay", "150"});
        TreeNode* version = Node("Wersja");
        DoubleClick(version, 0);
        QCOMPARE(Shown(version), QString());
        w->runLineDialog = [](LineDialog& dialog) -> std::optional<LineOptions> {
            dialog.show();
            auto* timeout = dialog.findChild<QSpinBox*>("timeout");
            timeout->setFocus();
            timeout->selectAll();
            QTest::keyClicks(timeout, "400");
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
            if (dialog.result() != QDialog::Accepted) return std::nullopt;
            return dialog.options();
        };
        w->findChild<QAction*>("UstawieniaLacza")->trigger();
        QCOMPARE(w->lineOptions().timeoutMs, 400);
        QTest::qWait(200); // the late reply of the failed read is over
        DoubleClick(version, 0);
        QCOMPARE(Shown(version),
                 QStringLiteral("3")); // from the device: the failed read emptied it
        QVERIFY2(w->GroupBox3->toolTip().contains(QString::fromUtf8("czas odpowiedzi 400 ms")),
                 qPrintable(w->GroupBox3->toolTip()));
        QVERIFY(w->LogText().contains(QString::fromUtf8("Łącze: czas odpowiedzi 400 ms")));
        QVERIFY(boxes.isEmpty());
        TForm1 fresh(dir.path() + "/vardel");
        QVERIFY(fresh.lineOptions().isDefault());
    }

    // "Diagnostyka łącza…" against a device at 4800 odd, address 5, from a window at 19200
    // even, 247: it finds them, the log says so, "Ustaw znalezione" sets the window's boxes,
    // and the next read gets the device's value. Only reads went out.
    void lineDoctorFindsTheSetting() {
        Start({"--only-at", "4800,odd", "--slave", "5"});
        TreeNode* version = Node("Wersja");
        Click(version, 0);
        QString report;
        w->runDoctorDialog = [&](DoctorDialog& dialog) {
            dialog.show();
            auto* addresses = dialog.findChild<QLineEdit*>("addresses");
            QCOMPARE(addresses->text(), QStringLiteral("247"));
            addresses->selectAll();
            QTest::keyClicks(addresses, "4-5");
            QTest::mouseClick(dialog.findChild<QPushButton*>("start"), Qt::LeftButton);
            report = dialog.findChild<QPlainTextEdit*>("report")->toPlainText();
            QTest::mouseClick(dialog.findChild<QPushButton*>("apply"), Qt::LeftButton);
        };
        w->findChild<QAction*>("DiagnostykaLacza")->trigger();
        QVERIFY2(report.contains("4800,o,8,1 adres 5"), qPrintable(report));
        QVERIFY2(report.contains(QString::fromUtf8("Szybkość 4800, Parzystość odd")),
                 qPrintable(report));
        QCOMPARE(w->cbxBaud->currentText(), QStringLiteral("4800"));
        QCOMPARE(w->cbxParity->currentText(), QStringLiteral("odd"));
        QCOMPARE(w->eSlave->text(), QStringLiteral("5"));
        const QString log = w->LogText();
        QVERIFY(log.contains(
            QString::fromUtf8("Diagnostyka łącza: Odpowiada adres 5 przy 4800,o,8,1.")));
        QVERIFY(log.contains(QString::fromUtf8("Łącze: 4800,o,8,1")));
        DoubleClick(version, 0);
        QCOMPARE(Shown(version), QStringLiteral("3"));
        QVERIFY(boxes.isEmpty());
        for (const QString& request : sim->Requests()) // reads only: functions 3 and 4
            QVERIFY2(request.mid(2, 2) == "03" || request.mid(2, 2) == "04", qPrintable(request));
    }

    // Esc ends a run at once and leaves the dialog open; closed without "Ustaw znalezione"
    // the window's line runs as it did before.
    void lineDoctorStoppedAndClosed() {
        Start({"--only-at", "4800,odd"});
        QString report;
        QElapsedTimer run;
        w->runDoctorDialog = [&](DoctorDialog& dialog) {
            dialog.show();
            dialog.findChild<QLineEdit*>("addresses")->clear(); // every address: a long run
            QTimer::singleShot(300, &dialog,
                               [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
            run.start();
            QTest::mouseClick(dialog.findChild<QPushButton*>("start"), Qt::LeftButton);
            QVERIFY(dialog.isVisible());
            report = dialog.findChild<QPlainTextEdit*>("report")->toPlainText();
            QTest::mouseClick(dialog.findChild<QPushButton*>("close"), Qt::LeftButton);
            QVERIFY(!dialog.isVisible());
        };
        w->findChild<QAction*>("DiagnostykaLacza")->trigger();
        QVERIFY2(run.elapsed() < 3000, qPrintable(QString::number(run.elapsed())));
        QVERIFY2(report.contains("Przerwane przez operatora."), qPrintable(report));
        QVERIFY(report.contains(QString::fromUtf8("Nic nie odpowiedziało: 1 ustawień łącza")));
        QCOMPARE(w->link().lineSettings(), QStringLiteral("19200,e,8,1"));
        QCOMPARE(w->cbxBaud->currentText(), QStringLiteral("19200"));
        QVERIFY(
            w->LogText().contains(QString::fromUtf8("Diagnostyka łącza: przerwana przez operatora\n"
                                                    "Diagnostyka łącza: Nic nie odpowiedziało")));
        QVERIFY(boxes.isEmpty());
    }

    // "Identyfikacja urządzenia" from the Przetwornik group's menu: the objects the device
    // gave in a box, one line in the log, the last exchange in TX and RX; the tree's values
    // stay as they were.
    void identityFromTheDeviceMenu() {
        // The serial number from the maker's object, and an earlier record of this device.
        QFile identity(dir.path() + "/TR300F.identity.json");
        QVERIFY(identity.open(QIODevice::WriteOnly));
        identity.write(R"({"serialNumber":"object:0x80"})");
        identity.close();
        QVERIFY(QDir().mkpath(dir.path() + "/kalibracje"));
        CalibrationRecord earlier;
        earlier.start = QDateTime(QDate(2026, 11, 2), QTime(9, 30));
        earlier.deviceFile = "TR300F.dat";
        earlier.slave = "5"; // another address then: the serial number finds it
        earlier.serialNumber = "SN-0042";
        earlier.range = "100R";
        earlier.finished = true;
        SaveRecordCsv(earlier, dir.path() + "/kalibracje/earlier.csv");
        sim = std::make_unique<Simulator>(QStringList{"--identity",
                                                      "0=Firma,1=TR300F,2=2.1,128=SN-0042",
                                                      "--identity-parts", "2"},
                                          "TR300F.dat", true);
        QVERIFY(sim->started());
        w->ComCBox->setEditText(sim->port());
        w->ComCBoxSelect();
        QStringList rows, history;
        QString answered;
        w->runIdentityDialog = [&](IdentityDialog& dialog) {
            dialog.show();
            for (int r = 0; r < dialog.history()->rowCount(); ++r)
                history << dialog.history()->item(r, 0)->text() + ' ' +
                               dialog.history()->item(r, 1)->text();
            QTableWidget* table = dialog.table();
            for (int r = 0; r < table->rowCount(); ++r)
                rows << table->item(r, 0)->text() + '=' + table->item(r, 1)->text();
            answered = dialog.findChild<QLabel*>("answered")->text();
            QTest::mouseClick(
                dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Close),
                Qt::LeftButton);
        };
        TreeNode* temp = Node("Temperatura");
        const QString before = Shown(temp);
        QMenu* menu = w->findChild<QMenu*>("DeviceMenu");
        QVERIFY(menu);
        w->findChild<QAction*>("IdentyfikacjaUrzadzenia")->trigger();
        QVERIFY2(rows.contains(QString::fromUtf8("Producent=Firma")), qPrintable(rows.join('|')));
        QVERIFY(rows.contains(QString::fromUtf8("obiekt 0x80=SN-0042")));
        QVERIFY(rows.contains(QString::fromUtf8("Numer seryjny=SN-0042")));
        QCOMPARE(history, QStringList{"2026-11-02 09:30 100R"});
        QVERIFY(rows.contains(QString::fromUtf8("Stan=pracuje")));
        QCOMPARE(answered, QString::fromUtf8("Odpowiedziała funkcja 43/14 i 17"));
        QVERIFY(w->LogText().contains(QString::fromUtf8(
            "Identyfikacja urządzenia: Producent Firma, Kod produktu TR300F, Wersja 2.1, nr "
            "seryjny SN-0042 (funkcja 43/14 i 17)")));
        QVERIFY(w->lbTX->text().startsWith("$F711"));
        QCOMPARE(Shown(temp), before);
        QVERIFY(boxes.isEmpty());
    }

    // "Zrzut ustawień…", two settings changed by another master, "Porównaj ze zrzutem…":
    // exactly those two marked; one unticked; one confirmation restores the other alone,
    // which reads back right. RO registers are never written.
    void snapshotCompareAndRestore() {
        Start();
        w->findChild<QAction*>("ZrzutUstawien")->trigger();
        const QStringList saved = QDir(dir.path() + "/zrzuty").entryList({"*.json"}, QDir::Files);
        QCOMPARE(saved.size(), 1);
        QVERIFY(w->LogText().contains(QString::fromUtf8("(rejestrów 12, bez odpowiedzi 0)")));
        // Another master changes two settings behind the window's back.
        w->Disconnect();
        modbus_t* ctx = modbus_new_rtu(qPrintable(sim->port()), 19200, 'E', 8, 1);
        modbus_set_slave(ctx, 247);
        QCOMPARE(modbus_connect(ctx), 0);
        QCOMPARE(modbus_write_register(ctx, 203, 77), 1);
        QCOMPARE(modbus_write_register(ctx, 301, 4444), 1);
        modbus_close(ctx);
        modbus_free(ctx);
        w->ComCBoxSelect();
        QVERIFY(w->link().isOpen());
        QStringList marked, results, asked;
        w->chooseSnapshotFile = [&] { return dir.path() + "/zrzuty/" + saved[0]; };
        w->runCompareDialog = [&](CompareDialog& dialog) {
            dialog.show();
            QTableWidget* table = dialog.table();
            QVERIFY(dialog.findChild<QLabel*>("counts")->text().startsWith(
                QString::fromUtf8("Zmienione: 2, bez zmian: 10")));
            for (int r = 0; r < table->rowCount(); ++r)
                if (table->item(r, 0)->text() == "*") marked << table->item(r, 1)->text();
            for (int r = 0; r < table->rowCount(); ++r) // N400 stays as the device has it
                if (table->item(r, 1)->text() == "N400")
                    table->item(r, 0)->setCheckState(Qt::Unchecked);
            dialog.confirm = [&](const QString& question) {
                asked << question;
                return true;
            };
            QTest::mouseClick(dialog.findChild<QPushButton*>("restore"), Qt::LeftButton);
            for (int r = 0; r < table->rowCount(); ++r)
                if (!table->item(r, 5)->text().isEmpty())
                    results << table->item(r, 1)->text() + ": " + table->item(r, 5)->text();
        };
        w->findChild<QAction*>("PorownajZeZrzutem")->trigger();
        QCOMPARE(marked, (QStringList{QString::fromUtf8("Okres uśredniania"), "N400"}));
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QString::fromUtf8("Okres uśredniania: 77 → 10")),
                 qPrintable(asked[0]));
        QVERIFY(!asked[0].contains("N400"));
        QCOMPARE(results,
                 (QStringList{QString::fromUtf8("Okres uśredniania: zapisano 10, odczyt 10")}));
        QVERIFY(w->LogText().contains(
            QString::fromUtf8("Przywrócono Okres uśredniania: zapisano 10, odczyt 10")));
        QVERIFY(boxes.isEmpty());
        // The snapshot before and one after the restore, compared as files: the change of N400
        // alone, and nothing to restore from there.
        w->ComCBoxSelect();
        const QString after = w->SaveSnapshot();
        w->chooseSnapshotFiles = [&] {
            return QStringList{after, dir.path() + "/zrzuty/" + saved[0]};
        };
        QString counts;
        bool restorable = true;
        w->runCompareDialog = [&](CompareDialog& dialog) {
            counts = dialog.findChild<QLabel*>("counts")->text();
            restorable = dialog.findChild<QPushButton*>("restore")->isEnabled();
        };
        w->findChild<QAction*>("PorownajDwaZrzuty")->trigger();
        QVERIFY2(counts.startsWith(QString::fromUtf8("Zmienione: 1, bez zmian: 11")),
                 qPrintable(counts));
        QVERIFY(!restorable);
        QCOMPARE(Holding(203), QList<quint16>{10});
        QCOMPARE(Holding(301), QList<quint16>{4444});
        int writes = 0;
        for (const QString& request : sim->Requests())
            writes += request.mid(2, 2) == "06" || request.mid(2, 2) == "10";
        QCOMPARE(writes, 1 + 2); // the restore's one, and the other master's two
    }

    // RS-485 direction ticked in "Ustawienia łącza…" on a port that has none: the log says
    // so once, the group's tool tip names it, and the values still come from the device.
    void rs485OnAPortWithoutIt() {
        Start();
        w->runLineDialog = [](LineDialog& dialog) -> std::optional<LineOptions> {
            dialog.show();
            QTest::mouseClick(dialog.findChild<QCheckBox*>("rs485"), Qt::LeftButton);
            QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
            if (dialog.result() != QDialog::Accepted) return std::nullopt;
            return dialog.options();
        };
        w->findChild<QAction*>("UstawieniaLacza")->trigger();
        QVERIFY(w->lineOptions().rs485);
        TreeNode* version = Node("Wersja");
        DoubleClick(version, 0);
        DoubleClick(version, 0);
        QCOMPARE(Shown(version), QStringLiteral("3"));
        const QString log = w->LogText();
        QVERIFY(log.contains(QString::fromUtf8("Łącze: kierunek RS-485")));
        QCOMPARE(log.count(QString::fromUtf8("nie pozwala sterować kierunkiem RS-485")), 1);
        QVERIFY(w->GroupBox3->toolTip().contains(QString::fromUtf8("kierunek RS-485")));
        QVERIFY(boxes.isEmpty());
    }

    // A serial device server's port typed into "Port szer:" with Return works as a serial
    // port does and stays in the port list; a dropped connection turns the indicator red and
    // leaves visibly empty the value it could not read.
    void deviceBehindATcpGateway() {
        sim = std::make_unique<Simulator>(QStringList{"--tcp", "0"}, "TR300F.dat", true);
        QVERIFY(sim->started());
        QLineEdit* port = w->ComCBox->lineEdit();
        port->setFocus();
        port->selectAll();
        QTest::keyClicks(port, sim->port());
        QTest::keyClick(port, Qt::Key_Return);
        Settle();
        QVERIFY2(w->link().isOpen(), qPrintable(w->shConnect->toolTip()));
        TreeNode* version = Node("Wersja");
        DoubleClick(version, 0);
        QCOMPARE(Shown(version), QStringLiteral("3"));
        w->ComCBoxEnter(); // as the box's focus refills the list
        QVERIFY(w->ComCBox->findText(sim->port()) >= 0);
        QCOMPARE(w->ComCBox->currentText(), sim->port());
        QVERIFY(boxes.isEmpty());
        sim->Kill();
        DoubleClick(version, 0);
        Settle();
        QCOMPARE(Shown(version), QString());
        QVERIFY(!w->link().isOpen());
        QVERIFY2(
            w->shConnect->toolTip().contains(QString::fromUtf8("druga strona zamknęła połączenie")),
            qPrintable(w->shConnect->toolTip()));
        QVERIFY(w->LogText().contains(QStringLiteral("Port utracony:")));
    }

    // A rate typed into "Szybkość:" with Enter reaches the open port; one that is no standard
    // rate is refused with a box and the port keeps its rate.
    void typedBaudRate() {
        Start();
        QLineEdit* baud = w->cbxBaud->lineEdit();
        for (const char* typed : {"38400", "12345"}) {
            baud->setFocus();
            baud->selectAll();
            QTest::keyClicks(baud, typed);
            QTest::keyClick(baud, Qt::Key_Return);
            Settle();
        }
        QCOMPARE(w->link().lineSettings(), QStringLiteral("38400,e,8,1"));
        QVERIFY(w->LogText().contains("38400,e,8,1"));
        QVERIFY2(boxes.size() == 1, qPrintable(boxes.join(" | ")));
        QVERIFY2(boxes[0].contains("12345"), qPrintable(boxes[0]));
    }

    void failedReadShowsEmptyAtOnce_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("no reply") << QStringList{"--drop", "1"};
        QTest::newRow("bad CRC") << QStringList{"--bad-crc", "1"};
        QTest::newRow("exception") << QStringList{"--exception", "100:2"};
    }
    void failedReadShowsEmptyAtOnce() {
        QFETCH(QStringList, faults);
        Start(faults);
        TreeNode* temp = Node("Temperatura");
        QSignalSpy changed(w->model(), &QAbstractItemModel::dataChanged);
        DoubleClick(temp, 0);
        QCOMPARE(Shown(temp), QString());
        bool repainted = false; // the cell is drawn again, not left with the old value
        for (const QList<QVariant>& args : changed)
            repainted |= args[0].toModelIndex().internalPointer() == temp;
        QVERIFY(repainted);
    }

    // Two registers of an integer type are one 32-bit value, as a write sends it.
    void twoRegisterIntegersReadAsWritten() {
        Start();
        DoubleClick(Node("Numer seryjny"), 0);
        QCOMPARE(Shown(Node("Numer seryjny")), QStringLiteral("123456"));
        QLineEdit* editor = OpenEditor(Node("Korekta"));
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, "-123456");
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        DoubleClick(Node("Korekta"), 0);
        QCOMPARE(Shown(Node("Korekta")), QStringLiteral("-123456"));
        QCOMPARE(Holding(204, 2), (QList<quint16>{0x1DC0, 0xFFFE}));
    }

    // A number outside its register is refused before anything is sent; the cell goes back.
    void outOfRangeEditIsRefused_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("box");
        QTest::newRow("70000 into one register") << "70000"
                                                 << "od -32768 do 65535";
        QTest::newRow("a point") << "12.5"
                                 << "'12.5' is not a valid integer value.";
    }
    void outOfRangeEditIsRefused() {
        QFETCH(QString, typed);
        QFETCH(QString, box);
        Start();
        TreeNode* period = Node("Okres uśredniania");
        DoubleClick(period, 0);
        QLineEdit* editor = OpenEditor(period);
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(box), qPrintable(boxes[0]));
        QCOMPARE(Shown(period), QStringLiteral("10"));
        QCOMPARE(Colour(period), QVariant(QColor(0, 0, 0))); // the device's value, not red
        QCOMPARE(Writes(), QStringList());
    }

    // Clicking away from an editor that shows an unchanged value writes nothing; Return does.
    void clickingAwayWritesNothing() {
        Start();
        TreeNode* n100 = Node("N100");
        QPointer<QLineEdit> editor = OpenEditor(n100); // the view deletes a closed editor
        QVERIFY(editor);
        QTest::mouseClick(w->Memo1->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
        Settle();
        QVERIFY(!editor || !editor->isVisible() || QApplication::focusWidget() != editor);
        QCOMPARE(w->LogText(), QString());
        editor = OpenEditor(n100);
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        QCOMPARE(Writes(), QStringList{"F706012C03E85DD7"});
    }

    // A check box sets or clears its own bits in the value read, writing each time, and the
    // marks follow the device; a radio button writes its value in the register's form.
    void checkBoxesFollowTheDevice() {
        Start({"--set", "202=5"});
        TreeNode* alarmy = Node("Alarmy");
        DoubleClick(alarmy, 0);
        QCOMPARE(Shown(alarmy), QStringLiteral("$05"));
        TreeNode* upper = alarmy->children()[0];
        TreeNode* lower = alarmy->children()[1];
        TreeNode* sensor = alarmy->children()[2];
        QCOMPARE(int(upper->checkState), int(csCheckedNormal));
        QCOMPARE(int(lower->checkState), int(csUncheckedNormal));
        QCOMPARE(int(sensor->checkState), int(csCheckedNormal));
        ClickMark(lower);
        QCOMPARE(Holding(202), QList<quint16>{7});
        ClickMark(upper);
        QCOMPARE(Holding(202), QList<quint16>{6});
        QCOMPARE(Shown(alarmy), QStringLiteral("$06"));
        QCOMPARE(int(upper->checkState), int(csUncheckedNormal));
        QCOMPARE(int(sensor->checkState), int(csCheckedNormal));
        ClickMark(Node("Na żądanie"));
        QCOMPARE(Shown(Node("Tryb")), QStringLiteral("$02"));
        QCOMPARE(Holding(200), QList<quint16>{2});
        QVERIFY(boxes.isEmpty());
    }

    // Byte groups are marked from the register's bytes; a click changes the shown value,
    // visibly not written, and sends nothing. Options of a read-only register never change.
    void byteGroupsAndReadOnlyOptions() {
        Start();
        TreeNode* opcje = Node("Opcje");
        DoubleClick(opcje, 0);
        QCOMPARE(int(Node("słaby")->checkState), int(csCheckedNormal));
        QCOMPARE(int(Node("°C")->checkState), int(csCheckedNormal));
        QCOMPARE(int(Node("silny")->checkState), int(csUncheckedNormal));
        ClickMark(Node("silny"));
        QCOMPARE(Shown(opcje), QStringLiteral("$0102"));
        QCOMPARE(w->model()->data(Index(opcje, 2), Qt::ToolTipRole).toString(),
                 QString::fromUtf8("wartość zmieniona, niezapisana w urządzeniu"));
        TreeNode* status = Node("Status");
        DoubleClick(status, 0);
        TreeNode* ready = Node("Gotowy");
        const int before = ready->checkState;
        ClickMark(ready);
        ClickMark(Node("Przeciążenie"));
        QCOMPARE(int(ready->checkState), before);
        QCOMPARE(Shown(status), QStringLiteral("$03"));
        QCOMPARE(Writes(), QStringList());
    }

    // A double click on a group reads its sub-groups' registers in tree order, with no box;
    // a dropped reply is tried again and the walk goes on to the end, in one double click.
    void groupWithSubGroups_data() {
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("good line") << QStringList{};
        QTest::newRow("every 10th reply dropped") << QStringList{"--drop", "10"};
    }
    void groupWithSubGroups() {
        QFETCH(QStringList, faults);
        Start(faults);
        DoubleClick(Node("Pomiary"), 0);
        QVERIFY(boxes.isEmpty());
        QVERIFY(!w->engine().Walking());
        const QStringList lines = w->LogText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3 + 300);
        QVERIFY(lines[3].startsWith(QString::fromUtf8("1000 K1 pomiar")));
        QVERIFY(!w->LogText().contains("--"));
        DoubleClick(Node("Wersja"), 0); // the next double click reads what it names
        QVERIFY(w->LogText().endsWith("4    Wersja     3\n"));
    }

    // Typing into a monitored register's cell while its readings come in: the readings never
    // replace or mix into what is typed, and Return writes exactly that.
    void typingSurvivesMonitorReads() {
        Start();
        w->SetLineOptions(LineOptions{200, false});
        Click(Node("N100"));
        w->ePeriod->setText("100");
        QTest::mouseClick(w->cbMonitor, Qt::LeftButton);
        QTest::qWait(250);
        QLineEdit* editor = OpenEditor(Node("N100"));
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, "43");
        const int readsBefore = w->LogText().count("\t1000\n");
        QTRY_VERIFY(w->LogText().count("\t1000\n") >= readsBefore + 3); // readings meanwhile
        QCOMPARE(editor->text(), QString("43"));
        QTest::keyClicks(editor, "21");
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(300);
        QTest::mouseClick(w->cbMonitor, Qt::LeftButton);
        QVERIFY2(w->LogText().contains("300  N100:      4321\n"), qPrintable(w->LogText()));
        const QStringList writes = Writes();
        QCOMPARE(writes.size(), 1);
        QVERIFY2(writes[0].startsWith("F706012C10E1"), qPrintable(writes[0]));
    }

    // Monitoring follows a click onto a register only; a write while monitoring logs its
    // own line, and a new register gets a header of its own.
    void monitoringAndClicks() {
        Start();
        // What is checked here is the order of events, not the line's speed: a busy machine
        // that holds the simulator back beyond 40 ms must not fail the write.
        w->SetLineOptions(LineOptions{200, false});
        Click(Node("Wersja"));
        w->ePeriod->setText("100");
        QTest::mouseClick(w->cbMonitor, Qt::LeftButton);
        QTest::qWait(250);
        Click(Node("Pomiary")); // a group: monitoring stays on Wersja
        QCOMPARE(w->lbReg->text(), QStringLiteral("Wersja:"));
        QTest::qWait(300);
        QVERIFY(boxes.isEmpty());
        QVERIFY(w->cbMonitor->isChecked());
        QLineEdit* editor = OpenEditor(Node("N100"));
        QVERIFY(editor);
        editor->selectAll();
        QTest::keyClicks(editor, "4321");
        QTest::keyClick(editor, Qt::Key_Return);
        QTest::qWait(300);
        QTest::mouseClick(w->cbMonitor, Qt::LeftButton);
        const QString log = w->LogText();
        QVERIFY2(log.contains("300  N100:      4321\n"), qPrintable(log));
        // The edit made N100 current: its values follow under a header of its own.
        const qsizetype write = log.indexOf("300  N100:      4321\n");
        const qsizetype header = log.indexOf("\t300(N100)\n");
        QVERIFY2(write >= 0 && header > write, qPrintable(log));
        QVERIFY(!log.left(header).contains("\t4321"));
        QVERIFY(boxes.isEmpty());
    }

    // A right click makes the row current as a click does; F5 reads it.
    void rightClickAndF5() {
        Start();
        TreeNode* temp = Node("Temperatura");
        RightClick(temp);
        QTest::keyClick(w->TreeMenu, Qt::Key_Escape);
        QCOMPARE(w->engine().CurrentNode(), temp);
        QCOMPARE(w->lbReg->text(), QStringLiteral("Temperatura:"));
        QTest::keyClick(w->VT, Qt::Key_F5);
        Settle();
        QCOMPARE(w->LogText(), QStringLiteral("100  Temperatura23,50\n"));
    }

    // A device file that cannot be opened leaves the tree, its expansion and the label.
    void failedOpenKeepsTheTree() {
        Click(Node("Temperatura"));
        const bool expanded = w->VT->isExpanded(Index(Node("Pomiary")));
        w->cbxDeviceSelect("brak.dat");
        QCOMPARE(boxes.size(), 1);
        QVERIFY(Node("Temperatura"));
        QCOMPARE(w->VT->isExpanded(Index(Node("Pomiary"))), expanded);
        QCOMPARE(w->lbReg->text(), QStringLiteral("Temperatura:"));
        QCOMPARE(w->cbxDevice->currentText(), QStringLiteral("TR300F.dat"));
    }

    // Typing a name and pressing Return in "Typ:" loads nothing; choosing from the list does.
    void typedNameWithReturnDoesNotLoad() {
        QFile::copy(bin + "/TR100.dat", dir.path() + "/TR100.dat");
        w->cbxDevice->setFocus();
        w->cbxDevice->lineEdit()->selectAll();
        QTest::keyClicks(w->cbxDevice, "TR100.dat");
        QTest::keyClick(w->cbxDevice, Qt::Key_Return);
        Settle();
        QVERIFY(Node("Kanały"));
        QVERIFY(!Node("Identyfikacja")->children().empty());
    }

    // Expanding a node near the bottom brings its children into view.
    void expandingScrollsChildrenIntoView() {
        TreeNode* kanaly = Node("Kanały");
        Cell(kanaly, 0);
        w->VT->scrollToBottom();
        TreeNode* last = kanaly->children()[9];
        w->VT->scrollTo(Index(last), QAbstractItemView::PositionAtBottom);
        w->VT->expand(Index(last));
        Settle();
        QTest::qWait(50);
        const QRect child = w->VT->visualRect(Index(last->children()[29]));
        QVERIFY(w->VT->viewport()->rect().contains(child.topLeft())); // rows scroll by whole items
        QVERIFY(w->VT->viewport()->rect().contains(w->VT->visualRect(Index(last)).topLeft()));
    }

    // A new baud rate or parity reaches the open port at once, with a short line.
    void lineSettingsApplyAtOnce() {
        Start();
        w->cbxParity->setFocus();
        w->cbxParity->setCurrentIndex(0);
        emit w->cbxParity->activated(0);
        QCOMPARE(w->link().lineSettings(), QStringLiteral("19200,n,8,2"));
        QCOMPARE(w->LogText(), QString::fromUtf8("Łącze: 19200,n,8,2\n"));
        DoubleClick(Node("Wersja"), 0); // the pseudo-terminal carries on
        QVERIFY(w->LogText().endsWith("4    Wersja     3\n"));
    }

    // What the project adds speaks Polish, with decimal commas.
    void polishTexts() {
        Start({"--exception", "100:2"});
        DoubleClick(Node("Temperatura"), 0);
        QCOMPARE(w->lbRX->toolTip(), QString::fromUtf8("wyjątek 2 (niedozwolony adres danych)"));
        DoubleClick(Node("Wersja"), 0);
        const QString stats = w->GroupBox3->toolTip();
        QVERIFY2(stats.startsWith(QString::fromUtf8("żądania 2, poprawne 1, wyjątki 1")),
                 qPrintable(stats));
        QVERIFY(!stats.contains(QRegularExpression("\\d\\.\\d")));
        QVERIFY(stats.contains(QRegularExpression("\\d,\\d")));
    }

    // "Zapisz" with no finished run of its range asks first; every store is its own record
    // and no record written before changes.
    void storeWithoutARunAsksFirst() {
        Start();
        w->cbxKalibracja->setCurrentText("100R");
        w->eMed->setText("1234");
        answerYes = false;
        QTest::mouseClick(w->btZapisz, Qt::LeftButton);
        QCOMPARE(questions.size(), 1);
        QCOMPARE(w->LogText(), QString());
        answerYes = true;
        QTest::mouseClick(w->btZapisz, Qt::LeftButton);
        QTest::mouseClick(w->btZapisz, Qt::LeftButton);
        QCOMPARE(questions.size(), 3);
        const QStringList records =
            QDir(dir.path() + "/kalibracje").entryList({"*.csv"}, QDir::Files, QDir::Name);
        QCOMPARE(records.size(), 2);
        QCOMPARE(Writes().size(), 2);
    }

    // A text cut short in its column or label shows whole in a tool tip.
    void cutTextsShowWhole() {
        TreeNode* longName = Node("K10 pomiar 30");
        const QRect cell = Cell(longName, 0);
        QHelpEvent help(QEvent::ToolTip, cell.center(),
                        w->VT->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(w->VT->viewport(), &help);
        QTRY_COMPARE(QToolTip::text(), QString::fromUtf8("K10 pomiar 30"));
        Click(Node("Okres uśredniania"));
        QCOMPARE(w->lbReg->toolTip(), QString::fromUtf8("Okres uśredniania:"));
        Click(Node("R0"));
        QCOMPARE(w->lbReg->toolTip(), QString());
    }

    // --help and --version answer without a display; an unknown argument still opens the
    // window, which says so in one box.
    void commandLine() {
        QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
        bare.remove("DISPLAY");
        bare.remove("WAYLAND_DISPLAY");
        bare.remove("QT_QPA_PLATFORM");
        for (const char* option : {"--help", "--version"}) {
            QProcess p;
            p.setProcessEnvironment(bare);
            p.start(bin + "/vardel", {option});
            QVERIFY(p.waitForFinished(5000));
            QCOMPARE(p.exitCode(), 0);
            QVERIFY(p.readAllStandardOutput().startsWith(option == QLatin1String("--help")
                                                             ? QByteArray("użycie: vardel")
                                                             : QByteArray("vardel ")));
        }
        const QString copy = dir.path() + "/vardel";
        QVERIFY(QFile::copy(bin + "/vardel", copy));
        QFile(copy).setPermissions(QFile(bin + "/vardel").permissions());
        QProcess p;
        p.start(copy, {"--nieznana"});
        QVERIFY(!p.waitForFinished(1500)); // the window runs, its box waits for the operator
        p.kill();
        p.waitForFinished(3000);
        QVERIFY(p.readAllStandardError().contains(QByteArray("użycie: vardel")));
    }

    // The trend window's saves never end the program: an unwritable path gives a box.
    void trendSaveToAnUnwritablePath() {
        Start();
        TreeNode* temp = Node("Temperatura");
        RightClick(temp);
        w->findChild<QAction*>("Wykres")->trigger();
        w->TreeMenu->hide();
        auto* trend = w->findChild<TrendWindow*>("Wykres");
        QVERIFY(trend);
        QStringList trendBoxes, suggested;
        trend->messageSink = [&](const QString& t) { trendBoxes << t; };
        trend->askSavePath = [&](const QString&, const QString&, const QString& name) {
            suggested << name;
            return QStringLiteral("/nonexistent/folder/plik");
        };
        QTest::mouseClick(trend->btCsv, Qt::LeftButton);
        QTest::mouseClick(trend->btImage, Qt::LeftButton);
        QCOMPARE(trendBoxes.size(), 2);
        QVERIFY(trendBoxes[0].contains("/nonexistent/folder/plik.csv"));
        QVERIFY(suggested[0].startsWith("wykres_Temperatura_") && suggested[0].endsWith(".csv"));
        QVERIFY(suggested[1].endsWith(".png"));
    }

    // The tree's menu opens the folder of the log and the records, from any row: "Wykres" is
    // there only on a register with a number.
    void recordsFolderFromTheTreeMenu() {
        QList<QUrl> opened;
        w->openFolder = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        auto* chart = w->findChild<QAction*>("Wykres");
        auto* folder = w->findChild<QAction*>("OtworzFolder");
        RightClick(Node("Konfiguracja"));
        QVERIFY(w->TreeMenu->isVisible());
        QVERIFY(!chart->isVisible());
        folder->trigger();
        w->TreeMenu->hide();
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});
        QVERIFY(QDir(dir.path()).mkdir("kalibracje"));
        RightClick(Node("Temperatura"));
        QVERIFY(chart->isVisible());
        folder->trigger();
        w->TreeMenu->hide();
        QCOMPARE(opened.last(), QUrl::fromLocalFile(dir.path() + "/kalibracje"));
        w->openFolder = [](const QUrl&) { return false; };
        folder->trigger();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QString::fromUtf8("Nie można otworzyć folderu")));
    }
};

QTEST_MAIN(TestTruth)
#include "tst_truth.moc"
