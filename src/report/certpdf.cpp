#include "certpdf.h"
#include "regmap/error.h"
#include "tools/logfile.h"
#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>

namespace {

// Without ligatures: "ff" or "fi" in a file name must read back from the PDF as the letters
// written. Qt shapes text without them whenever a letter spacing is set.
QFont PlainFont(QFont font, qreal points) {
    font.setPointSizeF(points);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.05);
    return font;
}

// The document laid out on pages of the body's height; each page painted between the
// number above it and "strona i z n" below it.
void PaintPages(QPdfWriter& writer, QTextDocument& document, const QString& number) {
    QPainter painter(&writer);
    const qreal width = writer.width(), height = writer.height();
    const qreal band = writer.resolution() * 0.35; // about 9 mm above and below the body
    const qreal bodyHeight = height - 2 * band;
    document.documentLayout()->setPaintDevice(&writer);
    document.setPageSize(QSizeF(width, bodyHeight));
    const int pages = document.pageCount();
    const QFont small = PlainFont(document.defaultFont(), 8);
    for (int page = 0; page < pages; ++page) {
        if (page > 0) writer.newPage();
        painter.setFont(small);
        painter.drawText(QRectF(0, 0, width, band * 0.7), Qt::AlignLeft | Qt::AlignTop,
                         QStringLiteral("Protokół wzorcowania nr ") + number);
        painter.drawText(QRectF(0, height - band * 0.7, width, band * 0.7),
                         Qt::AlignRight | Qt::AlignBottom,
                         QStringLiteral("%1, strona %2 z %3").arg(number).arg(page + 1).arg(pages));
        painter.save();
        painter.translate(0, band - page * bodyHeight);
        document.drawContents(&painter, QRectF(0, page * bodyHeight, width, bodyHeight));
        painter.restore();
    }
}

} // namespace

QByteArray CertificatePdf(const CertificateHeader& header, const Procedure& procedure,
                          const ProcedureContext& context, const ProcedureResult& result) {
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(18, 12, 18, 12), QPageLayout::Millimeter);
        writer.setTitle(QStringLiteral("Protokół wzorcowania ") + header.number);
        writer.setCreator(QStringLiteral("vardel ") + header.programVersion);
        QTextDocument document;
        document.setDefaultFont(PlainFont(document.defaultFont(), 9));
        document.setHtml(CertificateHtml(header, procedure, context, result));
        PaintPages(writer, document, header.number);
    }
    if (pdf.data().isEmpty())
        throw AppError(QStringLiteral("Nie można utworzyć protokołu PDF %1.").arg(header.number));
    return pdf.data();
}

void SaveCertificatePdf(const QByteArray& pdf, const QString& path) {
    SaveFileSafely(path, pdf);
    const QByteArray hash = QCryptographicHash::hash(pdf, QCryptographicHash::Sha256).toHex();
    SaveFileSafely(path + QStringLiteral(".sha256"),
                   hash + "  " + QFileInfo(path).fileName().toUtf8() + '\n');
}

CertificateFiles SaveNumberedCertificate(const QString& folder, CertificateHeader header,
                                         const Procedure& procedure,
                                         const ProcedureContext& context,
                                         const ProcedureResult& result) {
    if (!header.issued.isValid()) header.issued = QDateTime::currentDateTime();
    header.number = NextRecordNumber(folder, header.issued.date().year());
    CertificateFiles files{header.number, folder + '/' + header.number + QStringLiteral(".pdf"),
                           folder + '/' + header.number + QStringLiteral(".csv")};
    SaveCertificatePdf(CertificatePdf(header, procedure, context, result), files.pdf);
    SaveFileSafely(files.csv, CertificateCsv(header, procedure, context, result));
    return files;
}
