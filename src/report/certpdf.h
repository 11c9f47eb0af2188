#pragma once
// A procedure's certificate as a PDF on A4 paper, its number and "strona i z n" on every
// page, with its SHA-256 in a file beside it. Needs a QGuiApplication (fonts).
#include "tools/certificate.h"

// The PDF's bytes; throws AppError when it cannot be made.
QByteArray CertificatePdf(const CertificateHeader& header, const Procedure& procedure,
                          const ProcedureContext& context, const ProcedureResult& result);

// Writes the PDF to path and "SHA256  NAME" to path + ".sha256" (as sha256sum -c reads it),
// so a later edit of the PDF shows. Throws AppError when either cannot be written.
void SaveCertificatePdf(const QByteArray& pdf, const QString& path);

// The certificate's files in the records folder, named by its number.
struct CertificateFiles {
    QString number, pdf, csv;
};

// Takes the folder's next number into the header, then writes NUMBER.pdf, NUMBER.pdf.sha256
// and NUMBER.csv there. Throws AppError when the number or a file cannot be had.
CertificateFiles SaveNumberedCertificate(const QString& folder, CertificateHeader header,
                                         const Procedure& procedure,
                                         const ProcedureContext& context,
                                         const ProcedureResult& result);
