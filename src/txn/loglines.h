#pragma once
// Log line layout.
#include <QString>

// Writes text into line at column (1-based), padding a short line; column 0 puts the text in
// front of the line.
QString OverlayText(const QString& text, const QString& line, int column);
// Address at column 0, name at 6, value at 17 over 80 spaces, trailing spaces removed.
QString TransactionLine(const QString& address, const QString& name, const QString& value);
QString TrimTrailingSpaces(const QString& line);
