#include "mainwindow.h"
#include "translations.h"
#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <cstdio>

namespace {

struct StartOptions {
    QString port, device;
    bool ok = true;
};

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
        else
            options.ok = false;
    }
    return options;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vardel"));
    InstallQtTranslations(app);
    const StartOptions start = ParseStartOptions(QCoreApplication::arguments());
    if (!start.ok) {
        std::fputs("usage: vardel [--port PATH] [--device NAME.dat]\n", stderr);
        return 2;
    }
    TForm1 window(QCoreApplication::applicationFilePath());
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.center() - window.rect().center());
    window.show();
    if (!start.device.isEmpty()) {
        window.cbxDevice->setEditText(start.device);
        window.cbxDeviceSelect(start.device);
    }
    if (!start.port.isEmpty()) {
        window.ComCBox->setEditText(start.port);
        window.ComCBoxSelect();
    }
    return app.exec();
}
