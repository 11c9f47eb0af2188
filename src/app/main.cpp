#include "mainwindow.h"
#include "translations.h"
#include <QApplication>
#include <QScreen>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vardel"));
    InstallQtTranslations(app);
    TForm1 window(QCoreApplication::applicationFilePath());
    const QRect screen = window.screen()->availableGeometry();
    window.move(screen.center() - window.rect().center());
    window.show();
    return app.exec();
}
