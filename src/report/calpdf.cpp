#include "calpdf.h"
#include "regmap/error.h"
#include <QFileInfo>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

void SaveRecordPdf(const CalibrationRecord& record, const QString& path) {
    {
        QPdfWriter writer(path);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Protokół kalibracji"));
        writer.setCreator(QStringLiteral("vardel ") + record.programVersion);
        QTextDocument document;
        document.setHtml(RecordHtml(record));
        document.print(&writer); // laid out on the writer's pages, fonts at their point sizes
    }
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0)
        throw AppError(QStringLiteral("Cannot create file \"%1\". PDF not written").arg(path));
}
