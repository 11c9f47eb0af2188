#include "csv.h"

QString SpreadsheetField(const QString& text) {
    if (!text.contains(';') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + QString(text).replace('"', QLatin1String("\"\"")) + '"';
}

QString SpreadsheetRow(const QStringList& fields) {
    QStringList quoted;
    for (const QString& field : fields)
        quoted << SpreadsheetField(field);
    return quoted.join(';') + QStringLiteral("\r\n");
}
