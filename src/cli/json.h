#pragma once
// A small JSON reader and string writer for the device tool. Unlike QJsonDocument it has no
// nesting limit of its own below what the device file reader accepts, and it keeps every
// UTF-16 unit of a string, lone surrogates included ("\uD800" stays one unit).
#include <QByteArray>
#include <QString>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    QString string;
    std::vector<JsonValue> items;                       // an array's
    std::vector<std::pair<QString, JsonValue>> members; // an object's, in their order

    // The member of that name (the last one when repeated), or nullptr.
    const JsonValue* member(QLatin1StringView key) const;
};

// Throws AppError "JSON: <what> at byte <offset>".
JsonValue ParseJson(const QByteArray& text, int maxDepth);
// The text as a JSON string literal, quotes included: UTF-8, with control characters and lone
// surrogates as \u escapes.
void AppendJsonString(std::string& out, QStringView text);
