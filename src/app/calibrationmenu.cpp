// The Kalibracja group's menu: the calibration procedure window and the standards editor.
#include "mainwindow.h"
#include "procedurewindow.h"
#include "standardsdialog.h"
#include "tools/calrecord.h"
#include "txn/numbers.h"
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>

void TForm1::BuildCalibrationMenu() {
    AddGroupMenu(gbKal, "CalibrationMenu",
                 {{"Procedura kalibracji…", "ProceduraKalibracji", &TForm1::OpenProcedureWindow},
                  {"Wzorce…", "Wzorce", &TForm1::OpenStandardsEditor}});
}

void TForm1::OpenProcedureWindow() {
    CheckLineFree(QStringLiteral("Procedura kalibracji"));
    if (session_.deviceName().isEmpty())
        throw AppError(QStringLiteral("Procedura kalibracji: najpierw wybierz typ urządzenia"));
    const QString devicePath = DeviceFilePath(places_, session_.deviceName());
    const QString path = ProcedureFilePath(devicePath);
    if (!QFileInfo::exists(path))
        throw AppError(QStringLiteral("Procedura kalibracji: brak pliku %1 obok %2")
                           .arg(QFileInfo(path).fileName(), session_.deviceName()));
    const QString dataFolder = QFileInfo(places_.logPath).absolutePath();
    ProcedureWindow::Setup setup{ReadProcedureFile(path, tree_),
                                 path,
                                 StandardsFilePath(dataFolder),
                                 dataFolder + QStringLiteral("/kalibracje"),
                                 {},
                                 {}};
    CertificateHeader& h = setup.header;
    h.title = setup.procedure.title;
    h.deviceType = QFileInfo(session_.deviceName()).completeBaseName();
    h.deviceFile = session_.deviceName();
    h.deviceSha256 = session_.deviceSha256();
    h.procedureFile = QFileInfo(path).fileName();
    h.procedureSha256 = Sha256OfFile(path);
    h.slave = eSlave->text().trimmed();
    h.serialNumber = session_.SerialNumberOf(h.slave);
    h.port = link_.portPath();
    h.line = link_.lineSettings();
    h.programVersion = QStringLiteral(VARDEL_VERSION);
    const auto slave = static_cast<std::uint8_t>(ParseInteger(h.slave));
    if (slave != 0)
        setup.identify = [this, slave] {
            const DeviceIdentity identity = IdentifyWithFile(slave);
            AppendLogLine(QStringLiteral("Identyfikacja urządzenia: ") + identity.Summary());
            return identity;
        };
    ProcedureWindow window(engine_, tree_, std::move(setup), this);
    window.logLine = [this](const QString& line) { AppendLogLine(line); };
    if (runProcedureWindow)
        runProcedureWindow(window);
    else
        window.exec();
}

void TForm1::OpenStandardsEditor() {
    StandardsDialog dialog(StandardsFilePath(QFileInfo(places_.logPath).absolutePath()), this);
    if (runStandardsDialog)
        runStandardsDialog(dialog);
    else
        dialog.exec();
}
