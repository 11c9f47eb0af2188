#pragma once
// Log line layout.
#include <QString>
#include <QStringView>

// Writes text into line at column (1-based), padding a short line; column 0 puts the text in
// front of the line.
QString OverlayText(const QString& text, const QString& line, int column);
// Address at column 0, name at 6, value at 17 over 80 spaces, trailing spaces removed.
QString TransactionLine(const QString& address, const QString& name, const QString& value);
QString TrimTrailingSpaces(const QString& line);
// The text with every control character (C0 and C1 controls, DEL, the line and paragraph
// separators) as '?': a text from a device or a device file never starts a log line of its
// own or hides in one.
QString PrintableText(QStringView text);
// Texts are drawn up to this many characters; the record keeps them whole.
constexpr qsizetype kShownCharacters = 300;
// The printable text, cut to kShownCharacters with "…" when longer.
QString ShownText(QStringView text);
