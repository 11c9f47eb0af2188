#include "loglines.h"

QString OverlayText(const QString& text, const QString& line, int column) {
    QString result = line;
    if (result.size() < column) {
        result = result.leftJustified(column, ' ');
        result.insert(column - 1, text);
    } else if (column >= 1) {
        result.remove(column - 1, text.size());
        result.insert(column - 1, text);
    } else {
        result.prepend(text);
    }
    return result;
}

QString TrimTrailingSpaces(const QString& line) {
    qsizetype end = line.size();
    while (end > 0 && line[end - 1] == ' ')
        --end;
    return line.left(end);
}

QString TransactionLine(const QString& address, const QString& name, const QString& value) {
    QString line(80, ' ');
    line = OverlayText(address, line, 0);
    line = OverlayText(name, line, 6);
    line = OverlayText(value, line, 17);
    return TrimTrailingSpaces(line);
}

namespace {
bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}
} // namespace

QString PrintableText(QStringView text) {
    QString printable = text.toString();
    for (QChar& c : printable)
        if (IsControl(c.unicode())) c = '?';
    return printable;
}

QString ShownText(QStringView text) {
    if (text.size() <= kShownCharacters) return PrintableText(text);
    return PrintableText(text.left(kShownCharacters - 1)) + QChar(0x2026);
}
