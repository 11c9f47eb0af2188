#pragma once
// Fields and rows of the ';'-separated CSV that a Polish spreadsheet reads.
#include <QStringList>

// The text as it is, or in double quotes with its quotes doubled when it holds ';', '"' or a
// line break.
QString SpreadsheetField(const QString& text);
// Each field as SpreadsheetField gives it, ';' between them, the row ending in "\r\n".
QString SpreadsheetRow(const QStringList& fields);
