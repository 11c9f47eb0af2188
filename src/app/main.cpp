#include "mainwindow.h"
#include "translations.h"
#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

struct StartOptions {
    QString port, device;
    QStringList unknown; // arguments the program does not know
    bool help = false, version = false;
    LineOptions line;
};

const char* const kUsage = "użycie: vardel [--port ŚCIEŻKA] [--device NAZWA.dat]\n"
                           "  --port ŚCIEŻKA  otwórz ten port szeregowy przy starcie\n"
                           "  --device NAZWA  wczytaj ten plik urządzenia przy starcie\n"
                           "  --timeout MS    czas oczekiwania na odpowiedź, 10-60000 (40)\n"
                           "  --echo          usuwaj echo przejściówki\n"
                           "  --rs485         steruj kierunkiem RS-485 (RTS)\n"
                           "  --help          ten tekst\n"
                           "  --version       wersja programu\n";

bool TimeoutIn(const QString& text) {
    bool ok = false;
    const int ms = text.toInt(&ok);
    return ok && ms >= 10 && ms <= 60000;
}

// --timeout MS, --echo and --rs485 set "Ustawienia łącza…" as the dialog would, before the port
// opens.
// --port PATH and --device NAME act as the operator typing the port with Enter and choosing
// the device; without them the window starts with every control at its default.
StartOptions ParseStartOptions(const QStringList& args) {
    StartOptions options;
    for (int i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--port") && hasValue)
            options.port = args[++i];
        else if (args[i] == QLatin1String("--device") && hasValue)
            options.device = args[++i];
        else if (args[i] == QLatin1String("--timeout") && hasValue && TimeoutIn(args[i + 1]))
            options.line.timeoutMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--echo"))
            options.line.removeEcho = true;
        else if (args[i] == QLatin1String("--rs485"))
            options.line.rs485 = true;
        else if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h"))
            options.help = true;
        else if (args[i] == QLatin1String("--version"))
            options.version = true;
        else
            options.unknown << args[i];
    }
    return options;
}

// A Windows window program has no console: --help, --version and the usage go to the console
// it was started from, if any, unless its output is already redirected.
void AttachToStartingConsole() {
#ifdef Q_OS_WIN
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    [[maybe_unused]] FILE* out = std::freopen("CONOUT$", "w", stdout);
    [[maybe_unused]] FILE* err = std::freopen("CONOUT$", "w", stderr);
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer without a display.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const StartOptions start = ParseStartOptions(raw);
    if (start.help || start.version || !start.unknown.isEmpty()) AttachToStartingConsole();
    if (start.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (start.version) {
        std::printf("vardel %s\n", VARDEL_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vardel"));
    InstallQtTranslations(app);
    TForm1 window(QCoreApplication::applicationFilePath());
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.center() - window.rect().center());
    window.show();
    if (!start.line.isDefault()) window.SetLineOptions(start.line);
    if (!start.device.isEmpty()) {
        window.cbxDevice->setEditText(start.device);
        window.cbxDeviceSelect(start.device);
    }
    if (!start.port.isEmpty()) {
        window.ComCBox->setEditText(start.port);
        window.ComCBoxSelect();
    }
    // A shortcut or a file association with an argument the program does not know still opens
    // the window; the box says what was left aside.
    if (!start.unknown.isEmpty()) {
        std::fputs(kUsage, stderr);
        QTimer::singleShot(0, &window, [&window, unknown = start.unknown] {
            window.ShowMessage(QStringLiteral("Nieznane argumenty wywołania pominięto: %1\n"
                                              "Program zna: --port ŚCIEŻKA, --device NAZWA.dat, "
                                              "--timeout MS, --echo, --rs485, --help, --version")
                                   .arg(unknown.join(' ')));
        });
    }
    return app.exec();
}
