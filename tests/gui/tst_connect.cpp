#include "app/mainwindow.h"
#include "integration/simulator.h"
#include <QtWidgets>

namespace {
QColor Fill(TForm1& w) {
    return w.shConnect->palette().color(QPalette::Window);
}
const QColor kRed(255, 0, 0), kLime(0, 255, 0), kGrey(128, 128, 128);
} // namespace

// The window's connection controls against the simulator.
class TestConnect : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    void Choose(TForm1& w, const QString& text) {
        w.ComCBox->setEditText(text);
        QTest::keyClick(w.ComCBox->lineEdit(), Qt::Key_Return);
    }

private slots:
    void indicatorColours() {
        Simulator first({}), second({});
        QVERIFY(first.started() && second.started());
        TForm1 w(dir.path() + "/vardel");
        w.messageSink = [](const QString& t, bool) { QFAIL(qPrintable(t)); };
        Choose(w, "None");
        QCOMPARE(Fill(w), kGrey);
        Choose(w, "/dev/vardel-no-such-port");
        QCOMPARE(Fill(w), kRed);
        QVERIFY(!w.link().isOpen());
        QVERIFY(w.shConnect->toolTip().contains(QString::fromUtf8("nie ma takiego portu")));
        Choose(w, first.port());
        QCOMPARE(Fill(w), kLime);
        QCOMPARE(w.link().lineSettings(), QStringLiteral("19200,e,8,1"));
        QCOMPARE(w.link().portPath(), first.port());
        Choose(w, second.port()); // the first is closed before the second opens
        QCOMPARE(Fill(w), kLime);
        SerialLink other;
        QVERIFY(other.OpenPort(first.port(), "19200,e,8,1"));
        other.ClosePort();
        w.cbxParity->setCurrentIndex(0);
        Choose(w, second.port());
        QCOMPARE(w.link().lineSettings(), QStringLiteral("19200,n,8,2"));
        Choose(w, "None");
        QCOMPARE(Fill(w), kGrey);
        QVERIFY(!w.link().isOpen());
    }

    void busyPortTurnsRed() {
        Simulator sim({});
        QVERIFY(sim.started());
        SerialLink holder;
        QVERIFY(holder.OpenPort(sim.port(), "19200,e,8,1"));
        TForm1 w(dir.path() + "/vardel");
        Choose(w, sim.port());
        QCOMPARE(Fill(w), kRed);
        QVERIFY(!w.shConnect->toolTip().isEmpty());
    }

    void portListHasNone() {
        TForm1 w(dir.path() + "/vardel");
        w.ComCBoxEnter();
        QVERIFY(w.ComCBox->findText("None") >= 0);
    }

    void lostPortTurnsRed() {
        auto sim = std::make_unique<Simulator>(QStringList{});
        QVERIFY(sim->started());
        TForm1 w(dir.path() + "/vardel");
        Choose(w, sim->port());
        QCOMPARE(Fill(w), kLime);
        sim->Kill();
        ReplyBuffer reply;
        const std::uint8_t frame[8] = {0xF7, 3, 0, 0xCB, 0, 1, 0xE1, 0x62};
        w.link().WriteFrame(frame, 8, reply);
        w.link().ReadReply(reply);
        QCOMPARE(Fill(w), kRed);
        QVERIFY(!w.link().isOpen());
    }
};

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
