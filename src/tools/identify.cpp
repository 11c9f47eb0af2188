#include "identify.h"
#include "regmap/error.h"
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kMaxParts = 16; // a device whose "more follows" never ends is not followed further

QString Ended(const char* function, const TransactionOutcome& r) {
    return QStringLiteral("funkcja %1: %2")
        .arg(QLatin1String(function), ShortOutcomeText(r.kind, r.exceptionCode));
}

void Merge(QList<IdentificationObject>& into, const QList<IdentificationObject>& objects) {
    for (const IdentificationObject& o : objects) {
        const bool known = std::any_of(into.begin(), into.end(),
                                       [&](const IdentificationObject& k) { return k.id == o.id; });
        if (!known) into << o;
    }
}

// One stream with its continuation parts. True when it answered; an exception that says the
// device has no such stream leaves it to the next, any other failure ends the function.
bool ReadStream(TransactionEngine& engine, std::uint8_t slave, IdentificationCategory category,
                DeviceIdentity& identity, bool& stop) {
    std::uint8_t first = 0;
    for (int part = 0; part < kMaxParts; ++part) {
        const RequestFrame request = BuildReadDeviceIdentification(slave, category, first);
        const TransactionOutcome r = engine.SendRaw(request);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.reply.constData());
        const std::optional<IdentificationPart> reply =
            r.kind == ReplyOutcome::Valid ? ParseIdentificationReply(bytes, int(r.reply.size()))
                                          : std::nullopt;
        if (!reply) {
            // Illegal function: no identification at all; an illegal address or value: not
            // this stream.
            const bool otherStream = r.kind == ReplyOutcome::Exception &&
                                     (r.exceptionCode == 2 || r.exceptionCode == 3) && part == 0;
            stop = !otherStream;
            identity.notes << Ended("43/14", r);
            return false;
        }
        Merge(identity.objects, reply->objects);
        if (!reply->moreFollows || reply->nextObject <= first) return true;
        first = reply->nextObject;
    }
    return true;
}

} // namespace

QString DeviceIdentity::answeredBy() const {
    QStringList by;
    if (!objects.isEmpty()) by << QStringLiteral("43/14");
    if (serverId) by << QStringLiteral("17");
    return by.isEmpty() ? QString() : QStringLiteral("funkcja ") + by.join(QStringLiteral(" i "));
}

QString DeviceIdentity::Object(std::uint8_t id) const {
    for (const IdentificationObject& o : objects)
        if (o.id == id) return ObjectText(o.value);
    return {};
}

QString DeviceIdentity::Summary() const {
    if (!answered())
        return QStringLiteral("brak identyfikacji (%1)").arg(notes.join(QStringLiteral("; ")));
    QStringList parts;
    for (std::uint8_t id : {0, 1, 2})
        if (!Object(id).isEmpty()) parts << ObjectName(id) + ' ' + Object(id);
    if (!serialNumber.isEmpty()) parts << QStringLiteral("nr seryjny ") + serialNumber;
    if (!firmware.isEmpty()) parts << QStringLiteral("oprogramowanie ") + firmware;
    if (!calibrationDate.isEmpty()) parts << QStringLiteral("kalibracja ") + calibrationDate;
    if (parts.isEmpty() && serverId)
        parts << QStringLiteral("identyfikator serwera ") + ObjectText(serverId->id);
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" (") + answeredBy() + ')';
}

DeviceIdentity Identify(TransactionEngine& engine, std::uint8_t slave,
                        std::optional<std::uint8_t> serialObject) {
    DeviceIdentity identity;
    bool stop = false;
    for (IdentificationCategory category :
         {IdentificationCategory::Extended, IdentificationCategory::Regular,
          IdentificationCategory::Basic}) {
        if (stop || !engine.LinkOpen()) break;
        if (ReadStream(engine, slave, category, identity, stop)) break;
    }
    if (identity.answered()) identity.notes.clear(); // a stream answered: the others do not matter
    if (engine.LinkOpen()) {
        const TransactionOutcome r = engine.SendRaw(BuildReportServerId(slave));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(r.reply.constData());
        if (r.kind == ReplyOutcome::Valid)
            identity.serverId = ParseServerIdReply(bytes, int(r.reply.size()));
        if (!identity.serverId) identity.notes << Ended("17", r);
    }
    if (serialObject) identity.serialNumber = identity.Object(*serialObject);
    return identity;
}

QString IdentityFilePath(const QString& devicePath) {
    const QFileInfo info(devicePath);
    return info.path() + '/' + info.completeBaseName() + QStringLiteral(".identity.json");
}

namespace {

IdentitySource SourceOf(const QJsonValue& value, const QString& key, const QString& file,
                        RegisterTree& tree) {
    const QString text = value.toString();
    auto refuse = [&](const QString& why) {
        return AppError(QStringLiteral("%1: \"%2\": %3").arg(file, key, why));
    };
    if (!value.isString() || text.isEmpty()) throw refuse(QStringLiteral("potrzebny tekst"));
    if (text.startsWith(QLatin1String("object:"))) {
        bool ok = false;
        const int id = text.mid(7).toInt(&ok, 0);
        if (!ok || id < 0 || id > 0xFF)
            throw refuse(QStringLiteral("obiekt 0-255, a jest \"%1\"").arg(text.mid(7)));
        return {{}, static_cast<std::uint8_t>(id)};
    }
    TreeNode* node = tree.FindNodeByName(text);
    if (!node || TransactionEngine::NodeAccess(node) == acNone)
        throw refuse(QStringLiteral("nie ma rejestru \"%1\" w pliku urządzenia").arg(text));
    return {text, std::nullopt};
}

} // namespace

std::optional<IdentityFile> ReadIdentityFile(const QString& path, RegisterTree& tree) {
    QFile file(path);
    if (!file.exists()) return std::nullopt;
    const QString name = QFileInfo(path).fileName();
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("%1: %2").arg(name, file.errorString()));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(64 * 1024), &error);
    if (!doc.isObject())
        throw AppError(
            QStringLiteral("%1: potrzebny obiekt JSON (%2)").arg(name, error.errorString()));
    IdentityFile identity;
    const QJsonObject root = doc.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        std::optional<IdentitySource>* field =
            it.key() == QLatin1String("serialNumber")      ? &identity.serialNumber
            : it.key() == QLatin1String("firmware")        ? &identity.firmware
            : it.key() == QLatin1String("calibrationDate") ? &identity.calibrationDate
                                                           : nullptr;
        if (!field)
            throw AppError(QStringLiteral("%1: \"%2\": nieznany klucz (serialNumber, firmware, "
                                          "calibrationDate)")
                               .arg(name, it.key()));
        *field = SourceOf(it.value(), it.key(), name, tree);
    }
    return identity;
}

void ReadIdentityRegisters(TransactionEngine& engine, RegisterTree& tree, const IdentityFile& file,
                           DeviceIdentity& identity) {
    auto value = [&](const std::optional<IdentitySource>& source) -> QString {
        if (!source) return {};
        if (source->object) return identity.Object(*source->object);
        TreeNode* node = tree.FindNodeByName(source->registerName);
        if (!node || !engine.LinkOpen()) return {};
        engine.ReadRegister(node);
        return engine.LastReplyOk() ? node->record.Value : QString();
    };
    if (file.serialNumber) identity.serialNumber = value(file.serialNumber);
    identity.firmware = value(file.firmware);
    identity.calibrationDate = value(file.calibrationDate);
}
