#pragma once
// The certificate of a procedure run: its number VD-YYYY-NNNNNN from a counter in the records
// folder that is never reused, and its data as CSV for a spreadsheet (the same items the PDF
// carries).
#include "tools/procrun.h"
#include <QByteArray>
#include <QString>

// What the certificate names besides the run's results.
struct CertificateHeader {
    QString number, title;
    QDateTime issued;
    QString deviceType, deviceFile, deviceSha256;
    QString procedureFile, procedureSha256;
    QString serialNumber, firmware; // empty: not read
    QString slave, port, line;
    QString programVersion;
};

// The next number of the year, VD-2026-000001 first. The counter file "numer.txt" in the
// folder is changed under a lock, so two programs finishing at once get two numbers; a
// number once given is never given again. Throws AppError when the folder cannot keep it.
QString NextRecordNumber(const QString& folder, int year);

// ';' between fields, decimal comma, UTF-8 with a byte-order mark: the header rows, the
// standards, the as-found and as-left tables, the adjustment, the uncertainty budgets, the
// decision rule, the verdict and every sample with its time.
QByteArray CertificateCsv(const CertificateHeader& header, const Procedure& procedure,
                          const ProcedureContext& context, const ProcedureResult& result);
// The same as a Polish HTML document for the PDF: the same rows, the fixed sentences, the
// signature lines, and every sample as an annex on pages of its own; the end mark last.
QString CertificateHtml(const CertificateHeader& header, const Procedure& procedure,
                        const ProcedureContext& context, const ProcedureResult& result);
