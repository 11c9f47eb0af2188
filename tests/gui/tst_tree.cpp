#include "app/logview.h"
#include "app/mainwindow.h"
#include "app/treemodel.h"
#include "app/trendwindow.h"
#include "driver.h"
#include "integration/simulator.h"
#include "regmap/devicefile.h"
#include <QAbstractItemModelTester>
#include <QtWidgets>
#include <modbus/modbus.h>

namespace {
const QColor kBlack(0, 0, 0), kNavy(0, 0, 128), kMaroon(128, 0, 0), kRed(255, 0, 0);
const QColor kUnreadGrey(0x80, 0x80, 0x80);
} // namespace

// The real window with a loaded device, driven as the operator drives it.
class TestTree : public QObject {
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
    // A click on the node's check mark, where a person clicks it.
    void ClickMark(TreeNode* node) { ClickCheckMark(*w, node); }
    void DoubleClick(TreeNode* node, int column) { DoubleClickCell(*w, node, column); }
    QVariant Colour(TreeNode* node, int column) {
        return w->model()->data(Index(node, column), Qt::ForegroundRole);
    }
    void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
    // The register's words as a reference master reads them from the simulator.
    quint16 Holding(int address) {
        w->Disconnect();
        modbus_t* ctx = modbus_new_rtu(qPrintable(sim->port()), 19200, 'E', 8, 1);
        modbus_set_slave(ctx, 247);
        uint16_t value = 0xDEAD;
        if (modbus_connect(ctx) == 0) modbus_read_registers(ctx, address, 1, &value);
        modbus_close(ctx);
        modbus_free(ctx);
        Connect();
        return value;
    }
    void Connect() {
        w->ComCBox->setEditText(sim->port());
        w->ComCBoxSelect();
    }

private slots:
    void init() {
        QVERIFY(QFile::copy(bin + "/TR100.dat", dir.path() + "/TR100.dat") ||
                QFile::exists(dir.path() + "/TR100.dat"));
        QFile::copy(bin + "/TR100F.dat", dir.path() + "/TR100F.dat");
        boxes.clear();
        sim = std::make_unique<Simulator>(QStringList{});
        QVERIFY(sim->started());
        w = std::make_unique<TForm1>(dir.path() + "/vardel");
        w->messageSink = [this](const QString& t, bool) { boxes << t; };
        questions.clear();
        answerYes = true;
        w->askQuestion = [this](const QString& t) {
            questions << t;
            return answerYes;
        };
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->cbxDeviceSelect("TR100.dat");
        QVERIFY(boxes.isEmpty());
    }
    void cleanup() {
        w->close(); // a clean close leaves no journal for the next test's window
        w.reset();
        sim.reset();
        QFile::remove(dir.path() + "/vardel.log");
    }

    void modelIsConsistent() {
        QAbstractItemModelTester tester(w->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        w->VT->expandAll();
        w->cbxDeviceSelect("TR100F.dat");
    }

    void colours() {
        TreeNode* rw = Node("Okres uśredniania");
        TreeNode* rp = Node("Licznik zdarzeń");
        TreeNode* ro = Node("Temperatura");
        QCOMPARE(Colour(rw, 2), QVariant(kUnreadGrey)); // the file's value, not the device's
        QCOMPARE(w->model()->data(Index(rw, 2), Qt::ToolTipRole).toString(),
                 QString::fromUtf8("wartość z pliku urządzenia, nieodczytana"));
        for (TreeNode* n : {rw, rp, ro})
            n->valueOrigin = ValueOrigin::Device; // the Part's colours are those of read values
        QCOMPARE(Colour(rw, 0), QVariant(kBlack));
        QCOMPARE(Colour(rw, 1), QVariant(kNavy));
        QCOMPARE(Colour(rw, 2), QVariant(kBlack));
        for (int c = 0; c < 3; ++c)
            QCOMPARE(Colour(rp, c), QVariant(kMaroon));
        QVERIFY(!Colour(ro, 1).isValid()); // the view's own colour
        rw->record.Access = "rw";
        QVERIFY(!Colour(rw, 1).isValid());
        for (TreeNode* n : {rw, rp}) {
            w->engine().Highlight(n);
            QCOMPARE(Colour(n, 0), QVariant(kBlack));
            QCOMPARE(Colour(n, 1), QVariant(kBlack));
            QCOMPARE(Colour(n, 2), QVariant(kRed));
        }
        w->RepaintTimerTimer();
        QVERIFY(w->engine().HighlightNode() == nullptr);
    }

    void doubleClicksWithThePortClosedDoNothing() {
        TreeNode* reg = Node("Okres uśredniania");
        TreeNode* group = Node("Pomiary");
        w->VT->expand(Index(group));
        Click(reg);
        QCOMPARE(w->lbReg->text(), QString::fromUtf8("Okres uśredniania:"));
        DoubleClick(reg, 0);
        DoubleClick(reg, 2);
        DoubleClick(Node("Licznik zdarzeń"), 2);
        DoubleClick(group, 0);
        Settle();
        QVERIFY(boxes.isEmpty());
        QCOMPARE(w->lbTX->text(), QStringLiteral("-"));
        QVERIFY(w->VT->isExpanded(Index(group)));
        QVERIFY(!w->VT->isPersistentEditorOpen(Index(reg, 2)) &&
                !w->VT->indexWidget(Index(reg, 2)));
        QCOMPARE(reg->record.Value, QStringLiteral("10"));
    }

    void readAndCollapse() {
        Connect();
        TreeNode* tryb = Node("Tryb");
        w->VT->expand(Index(tryb));
        DoubleClick(tryb, 0);
        QCOMPARE(tryb->record.Value, QStringLiteral("$01"));
        QVERIFY(!w->VT->isExpanded(Index(tryb)));
        QCOMPARE(w->LogText(), QStringLiteral("200  Tryb       $01\n"));
        QVERIFY(w->lbTX->text().startsWith("$F70300C80001"));
        QVERIFY(w->lbRX->text().startsWith("$F7030200"));
        QCOMPARE(int(tryb->children()[0]->checkState), int(csCheckedNormal));
        QCOMPARE(int(tryb->children()[1]->checkState), int(csUncheckedNormal));
    }

    void walkAGroup() {
        Connect();
        DoubleClick(Node("Pomiary"), 0);
        QCOMPARE(w->LogText().count('\n'), 5);
        QVERIFY(!w->engine().Walking());
        QVERIFY(w->engine().CurrentNode() == nullptr);
        Click(Node("Temperatura"));
        QCOMPARE(w->engine().CurrentNode(), Node("Temperatura"));
    }

    void readOnlyRefusals() {
        Connect();
        for (const char* name : {"Licznik zdarzeń", "Temperatura", "Pomiary"}) {
            boxes.clear();
            DoubleClick(Node(name), 2);
            QCOMPARE(boxes, QStringList{"rejestr tylko do odczytu"});
        }
    }

    // The written value shows red on its selected row, right after Enter.
    void editedValueShowsRedOnTheSelectedRow() {
        Connect();
        TreeNode* reg = Node("Okres uśredniania");
        DoubleClick(reg, 2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText("888");
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        QVERIFY(w->VT->selectionModel()->isRowSelected(Index(reg).row(), Index(reg).parent()));
        const QImage cell = w->VT->viewport()->grab(Cell(reg, 2)).toImage();
        int red = 0;
        for (int y = 0; y < cell.height(); ++y)
            for (int x = 0; x < cell.width(); ++x) {
                const QColor c = cell.pixelColor(x, y);
                red += c.red() > 180 && c.green() < 80 && c.blue() < 80;
            }
        QVERIFY2(red > 5, qPrintable(QString::number(red)));
    }

    // A click on an option's check mark: the check rule, then the click rule, so the monitor
    // group names the register that the next reads go to.
    void clickOnACheckMarkNamesTheCurrentRegister() {
        Connect();
        Click(Node("Okres uśredniania"));
        TreeNode* option = Node("Próg dolny");
        const QRect cell = Cell(option, 0);
        QStyleOptionViewItem item;
        item.initFrom(w->VT);
        item.rect = cell;
        item.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect mark =
            w->VT->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, w->VT);
        QTest::mouseClick(w->VT->viewport(), Qt::LeftButton, {}, mark.center());
        Settle();
        QVERIFY(w->engine().CurrentNode() != Node("Okres uśredniania"));
        QCOMPARE(w->lbReg->text(), w->engine().CurrentNode()->record.Name + ':');
    }

    // A load forgets the register named in the monitor group with every other reference.
    void loadForgetsTheNamedRegister() {
        Click(Node("Okres uśredniania"));
        QVERIFY(!w->lbReg->text().isEmpty());
        w->cbxDeviceSelect("TR100F.dat");
        QCOMPARE(w->lbReg->text(), QString());
    }

    // A device name typed into "Typ:" and Enter load nothing; choosing from the list does.
    void typedDeviceNameDoesNotLoad() {
        w->cbxDeviceSelect("TR100F.dat");
        w->cbxDevice->setFocus();
        w->cbxDevice->lineEdit()->setText("TR100.dat");
        QTest::keyClick(w->cbxDevice->lineEdit(), Qt::Key_Return);
        Settle();
        QVERIFY(w->tree().FindNodeByName("R0"));
        QVERIFY(!Node("Okres uśredniania"));
    }

    void enterWritesEvenUnchanged() {
        Connect();
        TreeNode* reg = Node("Okres uśredniania");
        DoubleClick(reg, 2);
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(qobject_cast<QLineEdit*>(editor));
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        QCOMPARE(w->LogText(), QString::fromUtf8("203  Okres uśred10ania:\n"));
        QCOMPARE(w->engine().HighlightNode(), reg);
    }

    void editedValueIsWritten() {
        Connect();
        TreeNode* reg = Node("Okres uśredniania");
        DoubleClick(reg, 2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText("321");
        QTest::keyClick(editor, Qt::Key_Return);
        Settle();
        QCOMPARE(reg->record.Value, QStringLiteral("321"));
        QCOMPARE(Holding(203), quint16(321));
    }

    void escapeWritesNothing() {
        Connect();
        TreeNode* reg = Node("Okres uśredniania");
        DoubleClick(reg, 2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText("999");
        QTest::keyClick(editor, Qt::Key_Escape);
        Settle();
        QCOMPARE(w->LogText(), QString());
        QCOMPARE(reg->record.Value, QStringLiteral("10"));
    }

    void radioOptionWritesItsRegister() {
        Connect();
        TreeNode* tryb = Node("Tryb");
        TreeNode* second = tryb->children()[1];
        w->model()->setData(Index(second), Qt::Checked, Qt::CheckStateRole);
        Settle();
        QCOMPARE(tryb->record.Value, QStringLiteral("$02")); // in the register's form
        QCOMPARE(Holding(200), quint16(2));
        QCOMPARE(int(second->checkState), int(csCheckedNormal));
        QCOMPARE(int(tryb->children()[0]->checkState), int(csUncheckedNormal));
        QCOMPARE(w->engine().HighlightNode(), tryb);
        QCOMPARE(w->LogText(), QStringLiteral("200  Tryb:      $02\n"));
    }

    void spaceBarChecksTheFocusedOption() {
        Connect();
        TreeNode* tryb = Node("Tryb");
        TreeNode* third = tryb->children()[2];
        Cell(third, 0);
        w->VT->setFocus();
        w->VT->setCurrentIndex(Index(third));
        QTest::keyClick(w->VT, Qt::Key_Space);
        Settle();
        QCOMPARE(tryb->record.Value, QStringLiteral("$03"));
    }

    void byteGroupOptions_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<int>("option");
        QTest::addColumn<QString>("value");
        QTest::newRow("low byte 1") << 0 << 1 << "$1201";
        QTest::newRow("high byte $0100") << 1 << 0 << "$01AB";
    }
    void byteGroupOptions() {
        QFETCH(int, group);
        QFETCH(int, option);
        QFETCH(QString, value);
        Connect();
        TreeNode* reg = Node("Opcje");
        reg->record.Value = "$12AB";
        TreeNode* byteGroup = reg->children()[group];
        w->model()->setData(Index(byteGroup->children()[option]), Qt::Checked, Qt::CheckStateRole);
        Settle();
        QCOMPARE(reg->record.Value, value);
        QCOMPARE(w->engine().CurrentNode(), byteGroup);
        QCOMPARE(w->LogText(), QString()); // nothing written
    }

    void badByteGroupValueChangesNothing() {
        TreeNode* reg = Node("Opcje");
        reg->record.Value = "zły";
        w->model()->setData(Index(reg->children()[0]->children()[1]), Qt::Checked,
                            Qt::CheckStateRole);
        Settle();
        QCOMPARE(boxes, QStringList{QString::fromUtf8("'zły' is not a valid integer value.")});
        QCOMPARE(reg->record.Value, QString::fromUtf8("zły"));
    }

    // A check box of a register never read is refused: its bits would go into the file's
    // value. Nothing is written and the mark stays.
    void checkBoxOfAnUnreadRegisterIsRefused() {
        Connect();
        TreeNode* alarmy = Node("Alarmy");
        TreeNode* box = alarmy->children()[0];
        ClickMark(box);
        Settle();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QString::fromUtf8("Najpierw odczytaj rejestr Alarmy")));
        QCOMPARE(alarmy->record.Value, QStringLiteral("$00"));
        QCOMPARE(int(box->checkState), int(csUncheckedNormal));
        QCOMPARE(w->LogText(), QString());
    }

    void expandingAnUnreadHexClearsItsMarks() {
        TreeNode* tryb = Node("Tryb");
        TreeNode* opcje = Node("Opcje");
        for (TreeNode* n : {tryb, opcje})
            for (TreeNode* o = RegisterTree::GetNext(n); o && o->depth() > n->depth();
                 o = RegisterTree::GetNext(o))
                o->checkState = csCheckedNormal;
        w->VT->expand(Index(Node("Konfiguracja")));
        w->VT->expand(Index(opcje)); // has a Value: nothing changes
        QCOMPARE(int(opcje->children()[0]->children()[0]->checkState), int(csCheckedNormal));
        tryb->record.Value = {};
        w->VT->expand(Index(tryb));
        for (const auto& o : tryb->children())
            QCOMPARE(int(o->checkState), int(csUncheckedNormal));
        QCOMPARE(int(opcje->children()[1]->children()[0]->checkState), int(csCheckedNormal));
    }

    void findNodeByNameIsCaseSensitive() {
        w->cbxDeviceSelect("TR100F.dat");
        QVERIFY(!w->VT->isExpanded(Index(w->tree().topLevel()[0])));
        QVERIFY(w->tree().FindNodeByName("R0"));
        QVERIFY(!w->tree().FindNodeByName("r0"));
    }

    void loadIsRefusedWhileAJobRuns() {
        Connect();
        QTimer::singleShot(0, w.get(), [this] { w->cbxDeviceSelect("TR100F.dat"); });
        w->engine().ReadFromNode(Node("Pomiary"));
        QVERIFY(Node("Temperatura") && Node("Ciśnienie"));
        QCOMPARE(w->LogText().count('\n'), 5);
        w->cbxDeviceSelect("TR100F.dat"); // once idle it loads, and forgets the old nodes
        QVERIFY(w->engine().CurrentRecord() == nullptr);
        QVERIFY(w->tree().FindNodeByName("R0"));
    }

    // Esc ends the walk: clicks work again and a double click reads the node double-clicked.
    void escapeStopsAWalk() {
        Connect();
        QTimer::singleShot(0, w.get(), [this] { QTest::keyClick(w->VT, Qt::Key_Escape); });
        w->engine().ReadFromNode(Node("Pomiary"));
        QCOMPARE(w->LogText(),
                 QStringLiteral("100  Temperatura23,50\nPrzerwano\nNieodczytanych: 4 z 5\n"));
        QVERIFY(!w->engine().Walking());
        Click(Node("Status"));
        QCOMPARE(w->engine().CurrentNode(), Node("Status"));
        DoubleClick(Node("Tryb"), 0);
        QVERIFY(w->LogText().endsWith("z 5\n200  Tryb       $01\n"));
    }

    // A register that fails is logged and passed by: the walk reads the rest, ends cleared,
    // and the tree obeys clicks after it.
    void failedRegisterIsPassedBy() {
        sim = std::make_unique<Simulator>(QStringList{"--exception", "102:4"});
        QVERIFY(sim->started());
        Connect();
        DoubleClick(Node("Pomiary"), 0);
        const QStringList lines = w->LogText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[1], QString::fromUtf8("102  Ciśnienie  -- wyjątek 4"));
        QCOMPARE(lines[4], QStringLiteral("108  Status     $03"));
        QCOMPARE(lines[5], QStringLiteral("Nieodczytanych: 1 z 5"));
        QVERIFY(!w->engine().Walking());
        QVERIFY(boxes.isEmpty());
        Click(Node("Status"));
        QCOMPARE(w->engine().CurrentNode(), Node("Status"));
    }

    // A long group read stopped with Esc, then one write asked for by an edit or by
    // "Zapisz": the device receives exactly that one write and nothing else is written.
    void oneWriteAfterAStoppedWalk_data() {
        QTest::addColumn<bool>("byEdit");
        QTest::newRow("edit of N100") << true;
        QTest::newRow("Zapisz of 100R") << false;
    }
    void oneWriteAfterAStoppedWalk() {
        QFETCH(bool, byEdit);
        RegisterTree tree;
        TreeNode* group = tree.appendTopLevel();
        group->record.Name = "Rejestry";
        for (int i = 0; i < 500; ++i) {
            TreeNode* reg = group->appendChild();
            reg->record = {
                QString("Reg%1").arg(i), "", QString::number(1000 + i), "WORD", "1", "RW", "7"};
        }
        TreeNode* calibration = tree.appendTopLevel();
        calibration->record.Name = "Kalibracja";
        calibration->appendChild()->record = {"N100", "", "300", "WORD", "1", "RW", "1000"};
        for (TreeNode* n : {group, calibration})
            n->states |= NodeState::HasChildren;
        QFile file(dir.path() + "/R500F.dat");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(WriteDeviceFile(tree));
        file.close();
        sim = std::make_unique<Simulator>(QStringList{}, file.fileName(), true);
        QVERIFY(sim->started());
        w->cbxDeviceSelect("R500F.dat");
        Connect();

        QTimer escape;
        connect(&escape, &QTimer::timeout, this, [&] {
            if (w->LogText().count('\n') < 33) return;
            escape.stop();
            QTest::keyClick(w->VT, Qt::Key_Escape);
        });
        escape.start(0);
        DoubleClick(Node("Rejestry"), 0);
        QVERIFY(!escape.isActive());
        QVERIFY(!w->engine().Walking());
        const int reads = w->LogText().count('\n');
        QVERIFY2(reads >= 33 && reads < 40, qPrintable(QString::number(reads)));

        if (byEdit) {
            DoubleClick(Node("N100"), 2);
            auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
            QVERIFY(editor);
            editor->setText("5555");
            QTest::keyClick(editor, Qt::Key_Return);
        } else {
            w->cbxKalibracja->setCurrentText("100R");
            w->eMed->setText("5555");
            QTest::mouseClick(w->btZapisz, Qt::LeftButton);
        }
        QTRY_VERIFY(w->LogText().endsWith("300  N100:      5555\n"));
        QTest::qWait(300); // any write that followed would have gone out by now
        w->Disconnect();
        QStringList writes;
        for (const QString& request : sim->Requests())
            if (!request.startsWith("F703")) writes << request;
        QCOMPARE(writes.size(), 1);
        QVERIFY2(writes[0].startsWith("F706012C15B3"), qPrintable(writes[0]));
        QCOMPARE(w->LogText().count('\n'), reads + 1);
    }

    void closingDuringAWalkEndsItThenCloses() {
        Connect();
        QTimer::singleShot(0, w.get(), [this] { w->close(); });
        w->engine().ReadFromNode(Node("Pomiary"));
        QVERIFY(w->isVisible()); // still open while the job unwinds
        QTRY_VERIFY(!w->isVisible());
        QFile log(dir.path() + "/vardel.log");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("100  Temperatura23,50\r\n"));
    }

    // The simulator dies in the middle of a walk: the window stays responsive, the log keeps
    // its lines, and after reconnecting the next read works.
    void simulatorKilledDuringAWalk() {
        Connect();
        QTimer::singleShot(0, w.get(), [this] { sim->Kill(); });
        w->engine().ReadFromNode(Node("Pomiary"));
        QVERIFY(w->LogText().startsWith("100  Temperatura23,50\nPort utracony:\n"));
        QCOMPARE(w->shConnect->palette().color(QPalette::Window), QColor(255, 0, 0));
        // The walk's second try met the closed port: one box, and the walk is over.
        QCOMPARE(boxes, QStringList{QString::fromUtf8("brak połączenia !")});
        QVERIFY(!w->engine().Walking());
        QVERIFY(w->LogText().contains(QString::fromUtf8("Przerwano: brak połączenia\n")));
        DoubleClick(Node("Status"), 0); // port closed: nothing happens
        QCOMPARE(boxes.size(), 1);
        sim = std::make_unique<Simulator>(QStringList{});
        QVERIFY(sim->started());
        Connect();
        const int before = w->LogText().count('\n');
        DoubleClick(Node("Pomiary"), 0);
        QCOMPARE(w->LogText().count('\n'), before + 5); // the whole group again
        QVERIFY(!w->engine().Walking());
    }

    // The port goes while monitoring: one box, and monitoring is off, its box unticked.
    void monitoringWithoutAPortEndsAtTheFirstBox() {
        Connect();
        Click(Node("Wersja"));
        w->ePeriod->setText("100");
        w->cbMonitor->click();
        QVERIFY(w->monitor().Timer1.isActive());
        w->Disconnect();
        QTest::qWait(500);
        QVERIFY(!w->cbMonitor->isChecked());
        QVERIFY(!w->monitor().Timer1.isActive());
        QCOMPARE(boxes, QStringList{QString::fromUtf8("brak połączenia !")});
        QVERIFY(w->LogText().endsWith(QString::fromUtf8("monitorowanie wyłączone\n")));
    }

    // A calibration in the window leaves its record in kalibracje/ beside the log; a run
    // stopped with Esc leaves one marked "przerwana"; "Zapisz" adds what it stored.
    void calibrationRecords() {
        sim = std::make_unique<Simulator>(QStringList{"--jitter", "R0:6"}, "TR100F.dat");
        QVERIFY(sim->started());
        w->cbxDeviceSelect("TR100F.dat");
        Connect();
        // The file on the disk replaced after the load: the record names the bytes loaded.
        QFile loaded(dir.path() + "/TR100F.dat");
        QVERIFY(loaded.open(QIODevice::ReadOnly));
        const QByteArray sha =
            QCryptographicHash::hash(loaded.readAll(), QCryptographicHash::Sha256).toHex();
        loaded.close();
        QVERIFY(QFile::remove(loaded.fileName()));
        QVERIFY(QFile::copy(bin + "/TR100.dat", loaded.fileName()));
        const QDir records(dir.path() + "/kalibracje");
        QDir(records).removeRecursively(); // what earlier tests stored
        w->cbxKalibracja->setCurrentText("100R");
        w->eCount->setText("3");
        QTest::mouseClick(w->Button1, Qt::LeftButton);
        QTRY_COMPARE(records.entryList({"TR100F_100R_*.csv"}).size(), 1);
        QCOMPARE(records.entryList({"TR100F_100R_*.pdf"}).size(), 1);
        const QString csv = records.filePath(records.entryList({"TR100F_100R_*.csv"})[0]);
        auto read = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        QVERIFY2(read(csv).contains(QString::fromUtf8("Stan;ukończona")), qPrintable(read(csv)));
        QVERIFY2(read(csv).contains(QString::fromLatin1(sha)), qPrintable(read(csv)));
        QVERIFY(QFile::remove(loaded.fileName()));
        QVERIFY(QFile::copy(bin + "/TR100F.dat", loaded.fileName())); // for the tests after
        QTest::mouseClick(w->btZapisz, Qt::LeftButton);
        QTRY_VERIFY(
            read(csv).contains(QString::fromUtf8("Potwierdzenie urządzenia;poprawna odpowiedź")));
        QTest::qWait(1100); // the next record gets a name of its own
        w->eCount->setText("1000");
        QTimer::singleShot(300, w.get(), [this] { QTest::keyClick(w->VT, Qt::Key_Escape); });
        QTest::mouseClick(w->Button1, Qt::LeftButton);
        QTRY_COMPARE(records.entryList({"TR100F_100R_*.csv"}).size(), 2);
        bool stopped = false;
        for (const QString& name : records.entryList({"*.csv"}))
            stopped |= read(records.filePath(name)).contains(QString::fromUtf8("Stan;przerwana"));
        QVERIFY(stopped);
        QDir(records).removeRecursively();
    }

    // "Wykres" on a monitored register: the values it plots, their statistics, the light for
    // a steady and a noisy reading, and the CSV a Polish spreadsheet opens.
    void trendOfAMonitoredRegister_data() {
        QTest::addColumn<int>("jitter");
        QTest::addColumn<int>("stability");
        QTest::addColumn<QColor>("light");
        QTest::newRow("steady") << 0 << int(Stability::Stable) << QColor(0, 200, 0);
        QTest::newRow("noisy") << 50 << int(Stability::Unstable) << QColor(220, 0, 0);
    }
    void trendOfAMonitoredRegister() {
        QFETCH(int, jitter);
        QFETCH(int, stability);
        QFETCH(QColor, light);
        sim = std::make_unique<Simulator>(QStringList{"--jitter", QString("R0:%1").arg(jitter)},
                                          "TR100F.dat");
        QVERIFY(sim->started());
        w->cbxDeviceSelect("TR100F.dat");
        Connect();
        TreeNode* r0 = Node("R0");
        emit w->VT->customContextMenuRequested(Cell(r0, 0).center());
        QVERIFY(w->TreeMenu->isVisible());
        w->findChild<QAction*>("Wykres")->trigger();
        w->TreeMenu->hide();
        auto* trend = w->findChild<TrendWindow*>("Wykres");
        QVERIFY(trend && trend->isVisible());
        QCOMPARE(trend->windowTitle(), QString::fromUtf8("Wykres – R0"));
        Click(r0);
        w->ePeriod->setText("100");
        w->cbMonitor->click();
        QTRY_VERIFY_WITH_TIMEOUT(trend->series().size() >= 12, 5000);
        w->cbMonitor->click();
        trend->Refresh();
        const std::vector<double>& values = trend->series().values();
        const auto n = qsizetype(values.size());
        double sum = 0, low = 1e9, high = -1e9;
        for (qsizetype i = n - 12; i < n; ++i) {
            sum += values[i];
            low = std::min(low, values[i]);
            high = std::max(high, values[i]);
        }
        trend->eLast->setText("12");
        trend->eSeconds->setText("1"); // the values reach back 1,2 s
        const TrendStatistics stats = trend->statistics();
        QCOMPARE(stats.count, 12);
        QCOMPARE(stats.mean, sum / 12);
        QCOMPARE(stats.minimum, low);
        QCOMPARE(stats.maximum, high);
        QCOMPARE(stats.failed, 0);
        QCOMPARE(trend->findChild<QLabel*>("Liczba")->text(), QStringLiteral("12"));
        QCOMPARE(int(trend->stability()), stability);
        QCOMPARE(trend->shStable->palette().color(QPalette::Window), light);
        QTemporaryDir out;
        trend->askSavePath = [&](const QString&, const QString&, const QString&) {
            return out.path() + "/r0.csv";
        };
        trend->btCsv->click();
        QFile csv(out.path() + "/r0.csv");
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QByteArray bytes = csv.readAll();
        QCOMPARE(bytes, trend->series().Csv());
        QVERIFY(bytes.startsWith(QByteArray("\xEF\xBB\xBF") +
                                 QString::fromUtf8("Czas;Wartość\r\n").toUtf8()));
        const QList<QByteArray> rows = bytes.split('\n');
        QCOMPARE(rows.size(), n + 2); // header, the values, and the end of the last row
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3};\\d+\r$")
                    .match(QString::fromUtf8(rows[1]))
                    .hasMatch());
        trend->close();
    }

    void logMenu() {
        w->AppendLogLine("a");
        w->AppendLogLine("");
        w->AppendLogLine("b");
        const QString target = dir.path() + "/zapis";
        w->askSaveFileName = [&] { return target; };
        QApplication::clipboard()->setText("schowek");
        w->findChild<QAction*>("Kopiuj1")->trigger();
        QCOMPARE(w->Memo1->selectedText().size(), 5); // "a", two breaks, "b", a break
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("schowek"));
        w->findChild<QAction*>("Zapiszdopliku1")->trigger();
        QFile f(target);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("a\r\n\r\nb\r\n"));
        w->askSaveFileName = [&] { return dir.path() + "/no/such/dir/x"; };
        w->findChild<QAction*>("Zapiszdopliku1")->trigger();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith("Cannot create file \"" + dir.path() + "/no/such/dir/x\". "));
        QCOMPARE(w->LogText(), QStringLiteral("a\n\nb\n"));
        w->askSaveFileName = [] { return QString(); }; // cancelled
        w->findChild<QAction*>("Zapiszdopliku1")->trigger();
        QCOMPARE(boxes.size(), 1);
        w->findChild<QAction*>("Wyczy1")->trigger();
        w->close();
        QVERIFY(!QFile::exists(dir.path() + "/vardel.log"));
    }
};

QTEST_MAIN(TestTree)
#include "tst_tree.moc"
