#pragma once
// The simulator's answer to read device identification (function 43, MEI type 14): its
// objects as streams (basic 0-2, regular up to 0x7F, extended up to 0xFF, each from the
// object asked) in parts of a few objects with "more follows", or one object alone.
#include <QByteArray>
#include <QMap>

struct IdentityObjects {
    QMap<int, QByteArray> objects; // id -> value
    int perReply = 0;              // objects in one reply; 0: as many as fit
    bool refuse = false;           // no identification: exception 1, as a device without it
};
// "0=Firma,1=TR100F,128=SN-0001": ids decimal or 0x hexadecimal. Throws AppError.
QMap<int, QByteArray> ParseIdentityObjects(const QString& text);
// The reply to a request addressed to this slave, CRC included; an exception 3 for a stream
// above what the objects hold (or an unknown read code), 2 for an object it does not have.
QByteArray AnswerIdentification(const QByteArray& request, const IdentityObjects& identity);
