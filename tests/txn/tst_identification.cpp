#include "fakes.h"
#include "tools/identify.h"
#include "txn/identification.h"
#include <QtTest>

namespace {

const std::uint8_t* Bytes(const QByteArray& b) {
    return reinterpret_cast<const std::uint8_t*>(b.constData());
}

QByteArray Sent(const RequestFrame& f) {
    return QByteArray(reinterpret_cast<const char*>(f.Frame), f.Length);
}

// A reply to a read device identification of the category, from the header fields and
// objects (id, text).
QByteArray IdReply(int slave, int category, bool more, int next,
                   const QList<QPair<int, QByteArray>>& objects) {
    QByteArray b;
    b += char(slave);
    b += char(0x2B);
    b += char(0x0E);
    b += char(category);
    b += char(0x83);
    b += char(more ? 0xFF : 0x00);
    b += char(next);
    b += char(objects.size());
    for (const auto& [id, text] : objects)
        b += char(id) + QByteArray(1, char(text.size())) + text;
    return WithCrc(b);
}

} // namespace

class TestIdentification : public QObject {
    Q_OBJECT
private slots:
    void requests() {
        QCOMPARE(
            Sent(BuildReadDeviceIdentification(0xF7, IdentificationCategory::Basic, 0)).toHex(),
            WithCrc(QByteArray::fromHex("F72B0E0100")).toHex());
        QCOMPARE(Sent(BuildReadDeviceIdentification(1, IdentificationCategory::Individual, 0x80))
                     .toHex(),
                 WithCrc(QByteArray::fromHex("012B0E0480")).toHex());
        QCOMPARE(Sent(BuildReportServerId(0xF7)).toHex(), QByteArray("f711878c"));
    }

    // Whether a reply answers the request, and how long the frame is while it arrives.
    void replies_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<int>("objects");
        const QByteArray two = IdReply(0xF7, 1, false, 0, {{0, "Firma"}, {1, "TR100F"}});
        QTest::newRow("two objects") << two << true << 2;
        QTest::newRow("no objects") << IdReply(0xF7, 1, false, 0, {}) << true << 0;
        QTest::newRow("more follows") << IdReply(0xF7, 1, true, 2, {{0, "Firma"}}) << true << 1;
        QByteArray past = two;
        past[9] = char(0x40); // the first object's length reaches past the frame
        QTest::newRow("an object length past the reply")
            << WithCrc(past.left(past.size() - 2)) << false << -1;
        QByteArray fewer = two;
        fewer[7] = char(3); // three objects announced, two there
        QTest::newRow("a truncated object list")
            << WithCrc(fewer.left(fewer.size() - 2)) << false << -1;
        QByteArray extra = two.left(two.size() - 2) + "xx";
        QTest::newRow("bytes after the last object") << WithCrc(extra) << false << -1;
        QTest::newRow("another slave") << IdReply(0x05, 1, false, 0, {{0, "Firma"}}) << false << 1;
        QByteArray mei = two;
        mei[2] = char(0x0D); // CANopen general reference
        QTest::newRow("another MEI type") << WithCrc(mei.left(mei.size() - 2)) << false << -1;
        QTest::newRow("another category") << IdReply(0xF7, 2, false, 0, {{0, "F"}}) << false << 1;
        QTest::newRow("an exception") << WithCrc(QByteArray::fromHex("F7AB01")) << true << -1;
    }
    void replies() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, fits);
        QFETCH(int, objects);
        const RequestFrame request =
            BuildReadDeviceIdentification(0xF7, IdentificationCategory::Basic, 0);
        const auto count = std::uint16_t(reply.size());
        QVERIFY(CheckReplyCrc(Bytes(reply), count));
        QCOMPARE(ReplyFitsRequest(request, Bytes(reply), count), fits);
        const auto part = ParseIdentificationReply(Bytes(reply), count);
        QCOMPARE(part ? int(part->objects.size()) : -1, objects);
        // A frame's length is known once its header and each object's header have come.
        if (fits && objects >= 0) {
            QCOMPARE(FrameLength(FrameKind::Reply, Bytes(reply), 7), 0);
            QCOMPARE(FrameLength(FrameKind::Reply, Bytes(reply), count), int(count));
        }
    }

    // An object list longer than the reply area is never read past it.
    void objectListPastTheReplyArea() {
        QByteArray head = QByteArray::fromHex("F72B0E0183000002");
        head += char(0) + QByteArray(1, char(120)) + QByteArray(120, 'a');
        head += char(1) + QByteArray(1, char(50));
        QVERIFY(FrameLength(FrameKind::Reply, Bytes(head), int(head.size())) > kReplySize);
        QVERIFY(!ParseIdentificationReply(Bytes(head), int(head.size())));
    }

    void serverId_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QByteArray>("additional");
        QTest::newRow("libmodbus's") << WithCrc(QByteArray::fromHex("F71105B4FF4C4D42")) << true
                                     << true << QByteArray("LMB");
        QTest::newRow("id alone") << WithCrc(QByteArray::fromHex("F7110107")) << true << false
                                  << QByteArray();
        QTest::newRow("stopped") << WithCrc(QByteArray::fromHex("F711020700")) << true << false
                                 << QByteArray();
        QTest::newRow("empty") << WithCrc(QByteArray::fromHex("F71100")) << false << false
                               << QByteArray();
        QTest::newRow("count past the frame")
            << WithCrc(QByteArray::fromHex("F7110907FF")) << false << false << QByteArray();
    }
    void serverId() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        const RequestFrame request = BuildReportServerId(0xF7);
        QCOMPARE(ReplyFitsRequest(request, Bytes(reply), std::uint16_t(reply.size())), valid);
        const auto id = ParseServerIdReply(Bytes(reply), int(reply.size()));
        QCOMPARE(id.has_value(), valid);
        if (!id) return;
        QTEST(id->running, "running");
        QTEST(id->additional, "additional");
    }

    // The extended stream first; a device without it says so with exception 2 or 3, and
    // the next is asked; its parts are followed; then function 17.
    void identifyFollowsStreamsAndParts() {
        ScriptedLink link;
        link.script = [](const QByteArray& r) -> QByteArray {
            if (r[1] == char(0x11)) return WithCrc(QByteArray::fromHex("F7110207FF"));
            const int category = quint8(r[3]), first = quint8(r[4]);
            if (category == 3) return WithCrc(QByteArray::fromHex("F7AB03"));
            if (category == 2 && first == 0)
                return IdReply(0xF7, 2, true, 2, {{0, "Firma"}, {1, "TR100F"}});
            if (category == 2 && first == 2)
                return IdReply(0xF7, 2, false, 0, {{2, "1.02"}, {0x80, "SN-7"}});
            return {};
        };
        RegisterTree tree;
        RecordingFrontend ui;
        TransactionEngine engine(tree, link, ui);
        const DeviceIdentity id = Identify(engine, 0xF7, 0x80);
        QCOMPARE(link.requests.size(), 4);
        // each request ended at the frontend, as every request does, and was shown
        QCOMPARE(ui.outcomes, (QList<ReplyOutcome>{ReplyOutcome::Exception, ReplyOutcome::Valid,
                                                   ReplyOutcome::Valid, ReplyOutcome::Valid}));
        QVERIFY2(ui.rx.startsWith("$F7110207FF"), qPrintable(ui.rx));
        QVERIFY2(ui.tx.startsWith("$F711"), qPrintable(ui.tx));
        QCOMPARE(id.objects.size(), 4);
        QCOMPARE(id.Object(2), QStringLiteral("1.02"));
        QCOMPARE(id.serialNumber, QStringLiteral("SN-7"));
        QVERIFY(id.serverId && id.serverId->running);
        QCOMPARE(id.answeredBy(), QStringLiteral("funkcja 43/14 i 17"));
        QCOMPARE(id.Summary(), QString::fromUtf8("Producent Firma, Kod produktu TR100F, Wersja "
                                                 "1.02, nr seryjny SN-7 (funkcja 43/14 i 17)"));
        QVERIFY(id.notes.isEmpty());
    }

    // No identification at all (exception 1) is not asked again per stream; a device that
    // never stops saying "more follows" is not followed forever; silence is said.
    void identifyWhereDevicesFail_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("summary");
        QTest::newRow("illegal function")
            << 0 << 2
            << QString::fromUtf8("brak identyfikacji (funkcja 43/14: wyjątek 1; "
                                 "funkcja 17: wyjątek 1)");
        QTest::newRow("endless parts") << 1 << 16 + 1 << QString();
        QTest::newRow("silent") << 2 << 2
                                << QString::fromUtf8("brak identyfikacji (funkcja 43/14: brak "
                                                     "odpowiedzi; funkcja 17: brak odpowiedzi)");
    }
    void identifyWhereDevicesFail() {
        QFETCH(int, kind);
        ScriptedLink link;
        link.script = [kind](const QByteArray& r) -> QByteArray {
            if (kind == 0) return WithCrc(r.left(1) + char(quint8(r[1]) | 0x80) + char(1));
            if (kind == 1 && r[1] == char(0x2B))
                return IdReply(0xF7, quint8(r[3]), true, quint8(r[4]) + 1, {{quint8(r[4]), "x"}});
            return {};
        };
        RegisterTree tree;
        RecordingFrontend ui;
        TransactionEngine engine(tree, link, ui);
        const DeviceIdentity id = Identify(engine, 0xF7);
        QTEST(int(link.requests.size()), "requests");
        QCOMPARE(ui.outcomes.size(), link.requests.size());
        QFETCH(QString, summary);
        if (!summary.isEmpty()) QCOMPARE(id.Summary(), summary);
        if (kind == 1) QCOMPARE(id.objects.size(), 16);
    }
};

QTEST_GUILESS_MAIN(TestIdentification)
#include "tst_identification.moc"
