#pragma once
// Which device answers: read device identification (function 43, MEI type 14) and report
// server ID (function 17), their requests and what their replies say. Pure: nothing here
// touches a line.
#include "link/modbus.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The stream a read device identification asks for; Individual is one object alone.
enum class IdentificationCategory : std::uint8_t {
    Basic = 1,
    Regular = 2,
    Extended = 3,
    Individual = 4
};

RequestFrame BuildReadDeviceIdentification(std::uint8_t slave, IdentificationCategory category,
                                           std::uint8_t firstObject);
RequestFrame BuildReportServerId(std::uint8_t slave);

struct IdentificationObject {
    std::uint8_t id = 0;
    QByteArray value;
    bool operator==(const IdentificationObject&) const = default;
};

// One reply of a read device identification.
struct IdentificationPart {
    std::uint8_t category = 0;
    std::uint8_t conformity = 0;
    bool moreFollows = false;
    std::uint8_t nextObject = 0;
    QList<IdentificationObject> objects;
};
// The reply's objects, CRC and fit to the request already checked (ReplyFitsRequest); none
// when its object list does not fill the frame exactly.
std::optional<IdentificationPart> ParseIdentificationReply(const std::uint8_t* reply, int count);

// "Producent", "Kod produktu", "Wersja"... for the standard objects 0 to 6, "obiekt 0x80"
// for the others.
QString ObjectName(std::uint8_t id);
// An object's bytes as text: printable ASCII as it is, anything else as hexadecimal.
QString ObjectText(const QByteArray& value);

// A report server ID reply's data: the server ID bytes, the run indicator (0xFF running)
// and any further device-specific bytes; none when the byte count does not fill the frame.
struct ServerId {
    QByteArray id; // the first data byte
    bool running = false;
    QByteArray additional;
};
std::optional<ServerId> ParseServerIdReply(const std::uint8_t* reply, int count);
