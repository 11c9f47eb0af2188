#include "identity.h"
#include "link/modbus.h"
#include "regmap/error.h"
#include <QStringList>

namespace {

QByteArray WithCrc(QByteArray frame) {
    const auto crc = Crc16(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                           std::uint16_t(frame.size()));
    return frame + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray Exception(const QByteArray& request, int code) {
    return WithCrc(request.left(1) + char(fcEncapsulatedInterface | kExceptionBit) + char(code));
}

// The highest object of each stream, and the conformity level the objects give.
int StreamEnd(int category) {
    return category == 1 ? 0x02 : category == 2 ? 0x7F : 0xFF;
}
int Conformity(const IdentityObjects& identity) {
    const int last = identity.objects.isEmpty() ? 0 : identity.objects.lastKey();
    return last <= 0x02 ? 0x01 : last <= 0x7F ? 0x02 : 0x03;
}

} // namespace

QMap<int, QByteArray> ParseIdentityObjects(const QString& text) {
    QMap<int, QByteArray> objects;
    for (const QString& item : text.split(',', Qt::SkipEmptyParts)) {
        const qsizetype eq = item.indexOf('=');
        bool ok = false;
        const int id = eq > 0 ? item.left(eq).trimmed().toInt(&ok, 0) : -1;
        if (!ok || id < 0 || id > 0xFF)
            throw AppError(QStringLiteral("--identity: potrzebne ID=TEKST, ID 0-255, a jest \"%1\"")
                               .arg(item));
        objects[id] = item.mid(eq + 1).toLatin1().left(200);
    }
    return objects;
}

QByteArray AnswerIdentification(const QByteArray& request, const IdentityObjects& identity) {
    if (identity.refuse) return Exception(request, 1);
    const int category = static_cast<std::uint8_t>(request[3]);
    const int first = static_cast<std::uint8_t>(request[4]);
    const int conformity = Conformity(identity);
    QList<int> ids;
    if (category == 4) {
        if (!identity.objects.contains(first)) return Exception(request, 2);
        ids << first;
    } else {
        if (category < 1 || category > 3 || category > conformity) return Exception(request, 3);
        for (auto it = identity.objects.lowerBound(first);
             it != identity.objects.end() && it.key() <= StreamEnd(category); ++it)
            ids << it.key();
    }
    // As many objects as the reply area holds, or perReply; the rest follow.
    QByteArray list;
    int count = 0, next = 0;
    for (int id : ids) {
        const QByteArray& value = identity.objects[id];
        const bool full = (identity.perReply > 0 && count == identity.perReply) ||
                          10 + list.size() + 2 + value.size() > kReplySize;
        if (full && count > 0) {
            next = id;
            break;
        }
        list += char(id) + QByteArray(1, char(value.size())) + value;
        ++count;
    }
    QByteArray reply = request.left(4);
    reply += char(conformity | 0x80); // individual access is served too
    reply += char(next ? 0xFF : 0x00);
    reply += char(next);
    reply += char(count);
    return WithCrc(reply + list);
}
