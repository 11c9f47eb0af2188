#include "snapshot.h"
#include "regmap/error.h"
#include "tools/csv.h"
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

QString Text(const QJsonObject& o, const char* key, const QString& file, bool required = true) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString()) return v.toString();
    if (v.isUndefined() && !required) return {};
    throw AppError(QStringLiteral("%1: \"%2\": %3")
                       .arg(file, QLatin1String(key),
                            v.isUndefined() ? QStringLiteral("brak klucza")
                                            : QStringLiteral("potrzebny tekst")));
}

QString FileSafe(QString text) {
    for (QChar& c : text)
        if (!c.isLetterOrNumber() && c != '-' && c != '_') c = '_';
    return text;
}

} // namespace

QByteArray SnapshotJson(const Snapshot& s) {
    QJsonArray registers;
    for (const SnapshotRegister& r : s.registers)
        registers.append(QJsonObject{{"name", r.name},
                                     {"address", r.address},
                                     {"type", r.type},
                                     {"access", r.access},
                                     {"answered", r.answered},
                                     {"value", r.value},
                                     {"words", r.words}});
    const QJsonObject root{{"format", "vardel-snapshot-1"},
                           {"time", s.time.toString(Qt::ISODate)},
                           {"deviceType", s.deviceType},
                           {"deviceSha256", s.deviceSha256},
                           {"slave", s.slave},
                           {"port", s.port},
                           {"identity", s.identity},
                           {"serialNumber", s.serialNumber},
                           {"registers", registers}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

Snapshot SnapshotFromJson(const QByteArray& json, const QString& file) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject())
        throw AppError(QStringLiteral("%1: to nie jest zrzut ustawień (%2)")
                           .arg(file, doc.isNull() ? error.errorString()
                                                   : QStringLiteral("potrzebny obiekt JSON")));
    const QJsonObject root = doc.object();
    if (root.value("format").toString() != QLatin1String("vardel-snapshot-1"))
        throw AppError(QStringLiteral("%1: \"format\": potrzebne vardel-snapshot-1").arg(file));
    Snapshot s;
    s.time = QDateTime::fromString(Text(root, "time", file), Qt::ISODate);
    if (!s.time.isValid())
        throw AppError(QStringLiteral("%1: \"time\": potrzebna data ISO 8601").arg(file));
    s.deviceType = Text(root, "deviceType", file);
    s.deviceSha256 = Text(root, "deviceSha256", file);
    s.slave = Text(root, "slave", file);
    s.port = Text(root, "port", file, false);
    s.identity = Text(root, "identity", file, false);
    s.serialNumber = Text(root, "serialNumber", file, false);
    const QJsonValue registers = root.value("registers");
    if (!registers.isArray())
        throw AppError(QStringLiteral("%1: \"registers\": potrzebna tablica").arg(file));
    for (const QJsonValue& item : registers.toArray()) {
        if (!item.isObject())
            throw AppError(QStringLiteral("%1: \"registers\": potrzebne obiekty").arg(file));
        const QJsonObject o = item.toObject();
        SnapshotRegister r{Text(o, "name", file),        Text(o, "address", file),
                           Text(o, "type", file),        Text(o, "access", file),
                           o.value("answered").toBool(), Text(o, "value", file),
                           Text(o, "words", file, false)};
        s.registers << r;
    }
    return s;
}

Snapshot ReadSnapshotFile(const QString& path, const QString& label) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("%1: %2").arg(path, file.errorString()));
    return SnapshotFromJson(file.readAll(), label);
}

QString SnapshotFileName(const Snapshot& s) {
    QString base = s.deviceType;
    if (base.endsWith(QLatin1String(".dat"), Qt::CaseInsensitive)) base.chop(4);
    return QStringLiteral("zrzuty/%1_adres%2_%3.json")
        .arg(FileSafe(base), FileSafe(s.slave), s.time.toString("yyyy-MM-dd_HH-mm-ss"));
}

Comparison Compare(const Snapshot& earlier, const Snapshot& later) {
    Comparison c;
    auto find = [](const Snapshot& s, const QString& name) -> const SnapshotRegister* {
        for (const SnapshotRegister& r : s.registers)
            if (r.name == name) return &r;
        return nullptr;
    };
    QStringList names;
    for (const SnapshotRegister& r : earlier.registers)
        names << r.name;
    for (const SnapshotRegister& r : later.registers)
        if (!names.contains(r.name)) names << r.name;
    for (const QString& name : names) {
        const SnapshotRegister* a = find(earlier, name);
        const SnapshotRegister* b = find(later, name);
        RegisterChange row;
        row.name = name;
        row.address = (b ? b : a)->address;
        row.before = a ? a->value : QString();
        row.after = b ? b->value : QString();
        const QString access = (b ? b : a)->access.toUpper();
        row.writable = b && (access == QLatin1String("RW") || access == QLatin1String("RP"));
        const bool neitherAnswered = a && b && !a->answered && !b->answered;
        if (!a || !b || a->answered != b->answered)
            row.changed = true; // in one only, or answered in one only
        else if (a->answered)
            row.changed = a->value != b->value ||
                          (!a->words.isEmpty() && !b->words.isEmpty() && a->words != b->words);
        row.restorable = row.changed && row.writable && a && a->answered;
        if (neitherAnswered)
            ++c.unanswered;
        else if (row.changed)
            ++c.changed;
        else
            ++c.same;
        c.rows << row;
    }
    return c;
}

QByteArray ComparisonCsv(const Comparison& c) {
    QString out = QStringLiteral("rejestr;adres;przed;po;zmieniony\n");
    for (const RegisterChange& r : c.rows)
        out += QStringList{SpreadsheetField(r.name), SpreadsheetField(r.address),
                           SpreadsheetField(r.before), SpreadsheetField(r.after),
                           r.changed ? QStringLiteral("1") : QStringLiteral("0")}
                   .join(';') +
               '\n';
    return out.toUtf8();
}

QString OtherDevice(const Snapshot& snapshot, const Snapshot& now) {
    if (!snapshot.serialNumber.isEmpty() && !now.serialNumber.isEmpty())
        return snapshot.serialNumber == now.serialNumber
                   ? QString()
                   : QStringLiteral("inny numer seryjny: zrzut %1, urządzenie %2")
                         .arg(snapshot.serialNumber, now.serialNumber);
    if (snapshot.deviceType != now.deviceType)
        return QStringLiteral("inny typ urządzenia: zrzut %1, teraz %2")
            .arg(snapshot.deviceType, now.deviceType);
    if (snapshot.deviceSha256 != now.deviceSha256)
        return QStringLiteral("inny plik urządzenia %1 (SHA-256 się różni)").arg(now.deviceType);
    return {};
}

QList<TreeNode*> SettingRegisters(RegisterTree& tree) {
    QList<TreeNode*> registers;
    for (TreeNode* n = tree.First(); n; n = RegisterTree::GetNext(n)) {
        const int access = TransactionEngine::NodeAccess(n);
        if (access == acRW || access == acRP) registers << n;
    }
    return registers;
}

namespace {

// The data words of a read's reply, "$1234 $5678".
QString WordsOf(const QByteArray& reply) {
    QStringList words;
    if (reply.size() < 5) return {};
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(reply.constData());
    const int count = std::min<int>(bytes[2], int(reply.size()) - 5);
    for (int i = 0; i + 1 < count; i += 2)
        words << HexText(bytes + 3 + i, 2);
    return words.join(' ');
}

} // namespace

QList<SnapshotRegister> ReadSettings(TransactionEngine& engine, const QList<TreeNode*>& registers,
                                     const SnapshotProgress& progress) {
    QList<SnapshotRegister> taken;
    bool stopped = false;
    for (qsizetype i = 0; i < registers.size(); ++i) {
        TreeNode* node = registers[i];
        const RegisterNode& r = node->record;
        SnapshotRegister entry{r.Name, r.Address, r.Type, r.Access, false, {}, {}};
        stopped = stopped || (progress.stopped && progress.stopped()) || !engine.LinkOpen();
        if (!stopped) {
            engine.ReadRegister(node);
            entry.answered = engine.LastReplyOk();
        }
        if (entry.answered) {
            entry.value = node->record.Value;
            entry.words = WordsOf(engine.LastOutcome().reply);
        } else {
            entry.value =
                stopped ? QStringLiteral("nieodczytany") : QStringLiteral("bez odpowiedzi");
        }
        taken << entry;
        if (progress.advanced) progress.advanced(int(i + 1), int(registers.size()));
    }
    return taken;
}

QList<RestoreResult> Restore(TransactionEngine& engine, RegisterTree& tree,
                             const QList<RegisterChange>& changes) {
    QList<RestoreResult> results;
    for (const RegisterChange& change : changes) {
        RestoreResult result{change.name, change.before, {}, RestoreResult::End::Failed};
        TreeNode* node = tree.FindNodeByName(change.name);
        const int access = TransactionEngine::NodeAccess(node);
        if (!node || !change.restorable || (access != acRW && access != acRP)) continue;
        try {
            node->record.Value = change.before;
            engine.WriteRegister(node);
            if (engine.LastReplyOk()) engine.ReadRegister(node);
            if (engine.LastReplyOk()) {
                result.now = node->record.Value;
                result.end = result.now == result.wanted ? RestoreResult::End::Kept
                                                         : RestoreResult::End::Other;
            }
        } catch (const AppError& error) { // a value the register cannot take: the rest go on
            result.now = error.message();
        }
        results << result;
    }
    return results;
}

QString RestoreText(const RestoreResult& r) {
    switch (r.end) {
    case RestoreResult::End::Kept:
        return QStringLiteral("%1: zapisano %2, odczyt %3").arg(r.name, r.wanted, r.now);
    case RestoreResult::End::Other:
        return QStringLiteral("%1: zapisano %2, a urządzenie ma %3").arg(r.name, r.wanted, r.now);
    case RestoreResult::End::Failed:
        break;
    }
    return r.now.isEmpty()
               ? QStringLiteral("%1: zapis %2 bez potwierdzenia").arg(r.name, r.wanted)
               : QStringLiteral("%1: zapis %2 odrzucony: %3").arg(r.name, r.wanted, r.now);
}
