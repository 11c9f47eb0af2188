// vardel-dev: prints a device file as JSON, or builds one from JSON.
#include "devicejson.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "tools/logfile.h"
#include "tools/places.h"
#include "tools/procedure.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const char* const kUsage = "użycie: vardel-dev dump PLIK.dat\n"
                           "        vardel-dev build PLIK.json -o PLIK.dat\n"
                           "        vardel-dev check-procedure PLIK.procedure.json [--device "
                           "PLIK.dat]\n"
                           "        vardel-dev -h | --help | --version\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Help() {
    std::fputs(kUsage, stdout);
    std::fputs("\nNarzędzie plików urządzeń programu vardel.\n"
               "  dump PLIK.dat            drzewo rejestrów jako JSON na stdout; sama nazwa\n"
               "                           jest szukana jak w vardelctl --device\n"
               "  build PLIK.json -o PLIK  zapisz plik urządzenia (wersja 2) z takiego JSON;\n"
               "                           brakujące teksty są puste, brakujący stan drzewa\n"
               "                           ma wartości domyślne (wysokość 18, reszta 0);\n"
               "                           nieznany klucz jest błędem\n"
               "  check-procedure PLIK     sprawdź procedurę kalibracji wobec pliku\n"
               "                           urządzenia (domyślnie NAZWA.dat obok\n"
               "                           NAZWA.procedure.json): klucze, wartości, rejestry\n"
               "  -h, --help               ten tekst;  --version  wersja\n\n"
               "Kod wyjścia: 0 gotowe; 1 błąd (przyczyna na stderr); 2 błąd wywołania.\n\n"
               "Przykłady:\n"
               "  vardel-dev dump TR100.dat > TR100.json\n"
               "  vardel-dev build TR100.json -o TR100.dat\n"
               "  vardel-dev check-procedure TR100F.procedure.json\n",
               stdout);
    return 0;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw AppError(
            QString::fromUtf8("Nie można otworzyć pliku \"%1\". nie jest zwykłym plikiem")
                .arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(
            QString::fromUtf8("Nie można otworzyć pliku \"%1\". %2").arg(path, file.errorString()));
    return file.readAll();
}

int Dump(const QString& path) {
    RegisterTree tree;
    const int version = LoadDeviceFile(path, tree);
    WriteTreeJson(tree, version, [](std::string_view piece) {
        std::fwrite(piece.data(), 1, piece.size(), stdout);
    });
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw AppError(QStringLiteral("Nie można wypisać JSON: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(errno))));
    return 0;
}

int Build(const QString& input, const QString& output) {
    RegisterTree tree;
    const QByteArray json = ReadAll(input); // its error names the file already
    try {
        TreeFromJson(json, tree);
    } catch (const AppError& e) {
        throw AppError(input + QStringLiteral(": ") + e.message());
    }
    // Whole or not at all: an earlier device file of that name survives a full disk.
    SaveFileSafely(output, WriteDeviceFile(tree));
    return 0;
}

// The device file a procedure is checked against: the one given, else NAME.dat beside
// NAME.procedure.json, else NAME.dat where vardelctl --device looks.
QString ProcedureDevice(const QString& procedurePath, const QString& device) {
    if (!device.isEmpty()) return FindDeviceFile(device, QCoreApplication::applicationFilePath());
    const QFileInfo info(procedurePath);
    const QString suffix = QStringLiteral(".procedure.json");
    if (!info.fileName().endsWith(suffix, Qt::CaseInsensitive))
        throw AppError(QStringLiteral("%1: nazwa nie kończy się na %2; podaj --device PLIK.dat")
                           .arg(info.fileName(), suffix));
    const QString name = info.fileName().chopped(suffix.size()) + QStringLiteral(".dat");
    const QString beside = info.path() + '/' + name;
    if (QFileInfo(beside).isFile()) return beside;
    return FindDeviceFile(name, QCoreApplication::applicationFilePath());
}

int CheckProcedure(const QString& path, const QString& device) {
    const QString devicePath = ProcedureDevice(path, device);
    RegisterTree tree;
    LoadDeviceFile(devicePath, tree);
    const Procedure p = ReadProcedureFile(path, tree);
    const QString line =
        QStringLiteral("%1: procedura \"%2\" poprawna wobec %3: zakresów %4, "
                       "punktów %5\n")
            .arg(QFileInfo(path).fileName(), p.title, QFileInfo(devicePath).fileName())
            .arg(p.ranges.size())
            .arg(p.pointCount());
    std::fputs(line.toUtf8().constData(), stdout);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) return Help();
        if (args.size() == 1 && args[0] == "--version") {
            std::puts("vardel-dev " VARDEL_VERSION);
            return 0;
        }
        if (args.size() == 2 && args[0] == "dump")
            return Dump(FindDeviceFile(args[1], QCoreApplication::applicationFilePath()));
        if (args.size() == 4 && args[0] == "build" && args[2] == "-o")
            return Build(args[1], args[3]);
        if (args.size() == 2 && args[0] == "check-procedure") return CheckProcedure(args[1], {});
        if (args.size() == 4 && args[0] == "check-procedure" && args[2] == "--device")
            return CheckProcedure(args[1], args[3]);
        return Usage();
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", e.message().toLocal8Bit().constData());
        return 1;
    } catch (const std::bad_alloc&) {
        std::fputs("vardel-dev: za mało pamięci na ten plik\n", stderr);
        return 1;
    }
}
