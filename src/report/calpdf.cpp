#include "calpdf.h"
#include "regmap/error.h"
#include "tools/logfile.h"
#include <QBuffer>
#include <QFont>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

void SaveRecordPdf(const CalibrationRecord& record, const QString& path) {
    // Made in memory, then saved as every file is: whole or not at all, regular files only.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 18, 20, 18), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Protokół kalibracji"));
        writer.setCreator(QStringLiteral("vardel ") + record.programVersion);
        QTextDocument document;
        // Without ligatures: "ff" or "fi" in a port or file name must read back from the PDF
        // as the letters written, not as one ligature character. Qt shapes text without them
        // whenever a letter spacing is set; 0.05 pixel is too small to see.
        QFont font = document.defaultFont();
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.05);
        document.setDefaultFont(font);
        document.setHtml(RecordHtml(record));
        document.print(&writer); // laid out on the writer's pages, fonts at their point sizes
    }
    if (pdf.data().isEmpty())
        throw AppError(QString::fromUtf8("Nie można utworzyć pliku PDF \"%1\".").arg(path));
    SaveFileSafely(path, pdf.data());
}
