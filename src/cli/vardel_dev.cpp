// vardel-dev: prints a device file as JSON, or builds one from JSON.
#include "devicejson.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cstdio>

namespace {

int Usage() {
    std::fputs("usage: vardel-dev dump FILE.dat\n"
               "       vardel-dev build FILE.json -o FILE.dat\n",
               stderr);
    return 2;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw AppError(
            QStringLiteral("Cannot open file \"%1\". nie jest zwykłym plikiem").arg(path));
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
    return file.readAll();
}

int Dump(const QString& path) {
    RegisterTree tree;
    const int version = LoadDeviceFile(path, tree);
    std::fputs(QJsonDocument(TreeToJson(tree, version)).toJson().constData(), stdout);
    return 0;
}

int Build(const QString& input, const QString& output) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(ReadAll(input), &error);
    if (!document.isObject())
        throw AppError(QStringLiteral("%1: not a JSON object: %2").arg(input, error.errorString()));
    RegisterTree tree;
    TreeFromJson(document.object(), tree);
    QFile file(output);
    const QByteArray bytes = WriteDeviceFile(tree);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw AppError(
            QStringLiteral("Cannot create file \"%1\". %2").arg(output, file.errorString()));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    try {
        if (args.size() == 2 && args[0] == "dump") return Dump(args[1]);
        if (args.size() == 4 && args[0] == "build" && args[2] == "-o")
            return Build(args[1], args[3]);
        return Usage();
    } catch (const AppError& e) {
        std::fprintf(stderr, "%s\n", e.message().toLocal8Bit().constData());
        return 1;
    }
}
