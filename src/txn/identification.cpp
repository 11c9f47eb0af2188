#include "identification.h"

namespace {

RequestFrame Finished(RequestFrame frame) {
    AppendCrc(frame);
    return frame;
}

} // namespace

RequestFrame BuildReadDeviceIdentification(std::uint8_t slave, IdentificationCategory category,
                                           std::uint8_t firstObject) {
    RequestFrame frame;
    frame.Frame[fpSlave] = slave;
    frame.Frame[fpFunction] = fcEncapsulatedInterface;
    frame.Frame[2] = kMeiDeviceIdentification;
    frame.Frame[3] = static_cast<std::uint8_t>(category);
    frame.Frame[4] = firstObject;
    frame.Length = 5;
    return Finished(frame);
}

RequestFrame BuildReportServerId(std::uint8_t slave) {
    RequestFrame frame;
    frame.Frame[fpSlave] = slave;
    frame.Frame[fpFunction] = fcReportServerId;
    frame.Length = 2;
    return Finished(frame);
}

std::optional<IdentificationPart> ParseIdentificationReply(const std::uint8_t* reply, int count) {
    constexpr int kHeader = 8;
    if (count < kHeader + 2 || reply[2] != kMeiDeviceIdentification) return std::nullopt;
    IdentificationPart part;
    part.category = reply[3];
    part.conformity = reply[4];
    part.moreFollows = reply[5] == 0xFF;
    part.nextObject = reply[6];
    const int end = count - 2; // the CRC
    int at = kHeader;
    for (int n = 0; n < reply[7]; ++n) {
        if (at + 2 > end || at + 2 + reply[at + 1] > end) return std::nullopt;
        part.objects << IdentificationObject{
            reply[at], QByteArray(reinterpret_cast<const char*>(reply + at + 2), reply[at + 1])};
        at += 2 + reply[at + 1];
    }
    if (at != end) return std::nullopt;
    return part;
}

QString ObjectName(std::uint8_t id) {
    static const char* const names[] = {"Producent", "Kod produktu", "Wersja",   "Strona WWW",
                                        "Produkt",   "Model",        "Aplikacja"};
    if (id < std::size(names)) return QString::fromUtf8(names[id]);
    return QStringLiteral("obiekt 0x") + QString::number(id, 16).toUpper().rightJustified(2, '0');
}

QString ObjectText(const QByteArray& value) {
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return HexText(reinterpret_cast<const std::uint8_t*>(value.constData()),
                           static_cast<std::uint16_t>(value.size()));
    return QString::fromLatin1(value);
}

std::optional<ServerId> ParseServerIdReply(const std::uint8_t* reply, int count) {
    if (count < 5 || reply[2] == 0 || count != 5 + reply[2]) return std::nullopt;
    ServerId id;
    id.id = QByteArray(1, static_cast<char>(reply[3]));
    if (reply[2] >= 2) id.running = reply[4] == 0xFF;
    if (reply[2] > 2)
        id.additional = QByteArray(reinterpret_cast<const char*>(reply + 5), reply[2] - 2);
    return id;
}
