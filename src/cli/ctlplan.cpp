#include "ctlplan.h"
#include "link/serial.h"
#include "regmap/error.h"
#include "tools/operator.h"
#include "tools/procedure.h"
#include "txn/builders.h"
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kMaxCount = std::numeric_limits<std::int32_t>::max();
constexpr int kMaxTimeoutMs = 60000;
constexpr qint64 kMaxPeriodMs = 24LL * 3600 * 1000;

qint64 WholeNumber(const QString& what, const QString& text, qint64 low, qint64 high) {
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < low || n > high)
        throw UsageError{QStringLiteral("%1: potrzebna liczba całkowita od %2 do %3, a jest \"%4\"")
                             .arg(what)
                             .arg(low)
                             .arg(high)
                             .arg(text)};
    return n;
}

OutputFormat FormatNamed(const QString& name) {
    if (name == QLatin1String("log")) return OutputFormat::Log;
    if (name == QLatin1String("csv")) return OutputFormat::Csv;
    if (name == QLatin1String("json")) return OutputFormat::Json;
    throw UsageError{QStringLiteral("--format: log, csv albo json, a jest \"%1\"").arg(name)};
}

// "247", or a list such as "1,3,5-9": each address once, in the order given.
QList<int> SlaveList(const QString& text) {
    QList<int> slaves;
    for (const QString& part : text.split(',')) {
        const QStringList ends = part.split('-');
        const int from = int(WholeNumber("--slave", ends[0], 0, 247));
        const int to = ends.size() == 2 ? int(WholeNumber("--slave", ends[1], from, 247)) : from;
        if (ends.size() > 2) WholeNumber("--slave", part, 0, 247); // says what is wrong
        for (int slave = from; slave <= to; ++slave)
            if (!slaves.contains(slave)) slaves << slave;
    }
    return slaves;
}

// Options come first; the commands follow.
int ParseOptions(const QStringList& args, CtlOptions& o) {
    int i = 0;
    auto value = [&](const QString& name) {
        if (i + 1 >= args.size()) throw UsageError{name + QStringLiteral(": brak wartości")};
        return args[++i];
    };
    for (; i < args.size() && args[i].startsWith('-'); ++i) {
        const QString& a = args[i];
        if (a == "--port")
            o.port = value(a);
        else if (a == "--baud")
            o.baud = value(a);
        else if (a == "--parity")
            o.parity = value(a);
        else if (a == "--slave") {
            o.slaves = SlaveList(value(a));
            o.slaveGiven = true;
        } else if (a == "--timeout")
            o.timeoutMs = int(WholeNumber("--timeout", value(a), 1, kMaxTimeoutMs));
        else if (a == "--device")
            o.device = value(a);
        else if (a == "--log")
            o.log = value(a);
        else if (a == "--report")
            o.report = value(a);
        else if (a == "--format")
            o.format = FormatNamed(value(a));
        else if (a == "--stats")
            o.stats = true;
        else if (a == "--retries")
            o.retries = int(WholeNumber("--retries", value(a), 0, 10));
        else if (a == "--stop-on-error")
            o.stopOnError = true;
        else if (a == "--echo")
            o.removeEcho = true;
        else if (a == "--rs485")
            o.rs485 = true;
        else if (a == "-v")
            o.verbose = true;
        else if (a == "-h" || a == "--help")
            o.help = true;
        else if (a == "--version")
            o.version = true;
        else
            throw UsageError{QStringLiteral("nieznana opcja ") + a};
    }
    o.slave = o.slaves.first();
    if (!QStringList{"none", "even", "odd"}.contains(o.parity))
        throw UsageError{QStringLiteral("--parity: none, even albo odd, a jest ") + o.parity};
    // A standard rate; a port that cannot run it says so when it opens.
    if (!StandardBaudRates().contains(o.baud))
        throw UsageError{QStringLiteral("--baud: jedna z %1, a jest %2")
                             .arg(StandardBaudRates().join(QStringLiteral(", ")), o.baud)};
    return i;
}

// A number as a technician types it: a decimal comma or a point.
double DecimalNumber(const QString& option, const QString& text) {
    bool ok = false;
    const double v = QLocale::c().toDouble(QString(text).replace(',', '.'), &ok);
    if (!ok || !std::isfinite(v))
        throw UsageError{QStringLiteral("%1: potrzebna liczba, a jest \"%2\"").arg(option, text)};
    return v;
}

// procedure's own flags, after its file, in any order.
void ParseProcedureFlags(const QStringList& c, int& i, CtlCommand& command) {
    CtlCommand::ProcedureFlags& f = command.procedure;
    auto value = [&]() {
        if (i + 1 >= c.size()) throw UsageError{c[i] + QStringLiteral(": brak wartości")};
        i += 2;
        return c[i - 1];
    };
    const QHash<QString, QString*> texts{
        {"--operator", &f.operatorName}, {"--checker", &f.checker},     {"--customer", &f.customer},
        {"--place", &f.place},           {"--standards", &f.standards}, {"--records", &f.records}};
    while (i < c.size()) {
        const QString flag = c[i];
        if (texts.contains(flag)) {
            *texts[flag] = value();
        } else if (flag == "--reference") {
            f.references << value();
        } else if (flag == "--temperature") {
            f.temperature = DecimalNumber(flag, value());
        } else if (flag == "--humidity") {
            f.humidity = DecimalNumber(flag, value());
        } else if (flag == "--as-found-only" || flag == "--adjust" || flag == "--yes") {
            (flag == "--yes" ? command.yes : flag == "--adjust" ? f.adjust : f.asFoundOnly) = true;
            ++i;
        } else {
            break;
        }
    }
    if (f.asFoundOnly && f.adjust)
        throw UsageError{QStringLiteral("procedure: --as-found-only albo --adjust, nie oba")};
}

CtlCommand ParseCommand(const QStringList& c, int& i) {
    const QString& word = c[i];
    auto arg = [&](int k) {
        if (i + k >= c.size()) throw UsageError{word + QStringLiteral(": za mało argumentów")};
        return c[i + k];
    };
    CtlCommand command;
    using Kind = CtlCommand::Kind;
    if (word == "read") {
        command.kind = Kind::Read;
        command.name = arg(1);
        i += 2;
    } else if (word == "write") {
        command.kind = Kind::Write;
        command.name = arg(1);
        command.value = arg(2);
        i += 3;
    } else if (word == "reset") {
        command.kind = Kind::Reset;
        i += 1;
    } else if (word == "monitor") {
        command.kind = Kind::Monitor;
        command.name = arg(1);
        command.periodMs = WholeNumber("monitor PERIOD_MS", arg(2), kMinimumPeriodMs, kMaxPeriodMs);
        command.count = WholeNumber("monitor COUNT", arg(3), 0, kMaxCount);
        i += 4;
    } else if (word == "calibrate") {
        command.kind = Kind::Calibrate;
        command.range = arg(1);
        command.count = WholeNumber("calibrate COUNT", arg(2), -kMaxCount - 1, kMaxCount);
        command.store = i + 3 < c.size() && c[i + 3] == "--store";
        i += command.store ? 4 : 3;
    } else if (word == "list") {
        command.kind = Kind::List;
        i += 1;
    } else if (word == "ports") {
        command.kind = Kind::Ports;
        i += 1;
    } else if (word == "identify") {
        command.kind = Kind::Identify;
        i += 1;
    } else if (word == "snapshot") {
        command.kind = Kind::Snapshot;
        command.name = arg(1);
        i += 2;
    } else if (word == "compare") {
        command.kind = Kind::Compare;
        command.name = arg(1);
        i += 2;
        if (i < c.size() && c[i].endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
            command.value = c[i++];
    } else if (word == "history") {
        static const QStringList commands{"read",     "write",   "reset",   "monitor", "calibrate",
                                          "list",     "scan",    "ports",   "doctor",  "identify",
                                          "snapshot", "compare", "restore", "history", "procedure"};
        command.kind = Kind::History;
        i += 1;
        for (int part = 0; part < 2 && i < c.size(); ++part) {
            if (c[i] == "--records") {
                command.records = arg(1);
                i += 2;
            } else if (command.name.isEmpty() && !commands.contains(c[i]) &&
                       !c[i].startsWith(QLatin1String("--"))) {
                command.name = c[i++];
            }
        }
    } else if (word == "restore") {
        command.kind = Kind::Restore;
        command.name = arg(1);
        i += 2;
        for (; i < c.size(); ++i) {
            if (c[i] == "--yes")
                command.yes = true;
            else if (c[i] == "--force-other-device")
                command.forceOtherDevice = true;
            else
                break;
        }
    } else if (word == "procedure") {
        command.kind = Kind::Procedure;
        command.name = arg(1);
        i += 2;
        ParseProcedureFlags(c, i, command);
    } else if (word == "scan" || word == "doctor") {
        command.kind = word == "scan" ? Kind::Scan : Kind::Doctor;
        i += 1;
        // doctor [FROM-TO] [--register NAME], in either order.
        for (int part = 0; part < 2 && i < c.size(); ++part) {
            static const QRegularExpression range(QStringLiteral("^(\\d+)-(\\d+)$"));
            const auto match = range.match(c[i]);
            if (match.hasMatch() && !command.rangeGiven) {
                command.from = int(WholeNumber("scan FROM", match.captured(1), 1, 247));
                command.to = int(WholeNumber("scan TO", match.captured(2), command.from, 247));
                command.rangeGiven = true;
                ++i;
            } else if (command.kind == Kind::Doctor && c[i] == "--register" &&
                       command.name.isEmpty()) {
                command.name = arg(1);
                i += 2;
            }
        }
    } else {
        throw UsageError{QStringLiteral("nieznane polecenie ") + word};
    }
    return command;
}

// A register by name, or a usage error naming it.
TreeNode* Named(const RegisterTree& tree, const QString& name) {
    TreeNode* node = const_cast<RegisterTree&>(tree).FindNodeByName(name);
    if (!node)
        throw AppError(QStringLiteral("Nie ma rejestru \"%1\" w pliku urządzenia").arg(name));
    return node;
}

// The value as the write will send it, or a usage error saying why it cannot be sent.
void CheckWrite(CtlCommand& command, const RegisterTree& tree) {
    const TreeNode* node = Named(tree, command.name);
    const RegisterNode& r = node->record;
    const int access = AccessCodeOf(r.Access);
    const int type = TypeCodeOf(r.Type);
    if ((access != acRW && access != acRP) || type == tcNone)
        throw AppError(QStringLiteral("Rejestru \"%1\" nie można zapisać (dostęp \"%2\", typ "
                                      "\"%3\")")
                           .arg(command.name, r.Access, r.Type));
    if (IsRealType(type) && !command.value.contains(',')) command.value.replace('.', ',');
    RegisterNode trial = r;
    trial.Value = command.value;
    try { // the request is built only to see that the value converts
        if (ParseInteger(r.Count) == 1)
            BuildWriteSingleRequest(trial, QStringLiteral("1"));
        else
            BuildWriteMultipleRequest(trial, QStringLiteral("1"));
    } catch (const AppError& e) {
        throw AppError(QStringLiteral("write %1: %2").arg(command.name, e.message()));
    }
}

void CheckCalibration(const CtlCommand& command, const RegisterTree& tree) {
    if (command.count <= 0)
        throw AppError(QStringLiteral("Liczba próbek kalibracji musi być większa od 0, a jest %1")
                           .arg(command.count));
    const QString target = StoreRegisterName(command.range);
    auto& t = const_cast<RegisterTree&>(tree);
    if (!t.FindNodeByName(QStringLiteral("R0")))
        throw AppError(QStringLiteral("Plik urządzenia nie ma rejestru \"R0\": kalibracja jest "
                                      "niemożliwa"));
    if (target.isEmpty() || !t.FindNodeByName(target))
        throw AppError(QStringLiteral("Zakres kalibracji \"%1\" nie jest obsługiwany przez ten "
                                      "plik urządzenia (100R wymaga N100, 400R wymaga N400)")
                           .arg(command.range));
}

} // namespace

CtlPlan ParseCommandLine(const QStringList& args) {
    CtlPlan plan;
    int i = ParseOptions(args, plan.options);
    if (plan.options.help || plan.options.version) return plan;
    if (i >= args.size()) throw UsageError{QStringLiteral("brak polecenia")};
    while (i < args.size())
        plan.commands << ParseCommand(args, i);
    // Listing the ports and scanning the line need no device file.
    const bool needsNoDevice =
        std::all_of(plan.commands.begin(), plan.commands.end(), [](const CtlCommand& c) {
            return c.kind == CtlCommand::Kind::Ports || c.kind == CtlCommand::Kind::Scan ||
                   c.kind == CtlCommand::Kind::Identify || c.kind == CtlCommand::Kind::History ||
                   (c.kind == CtlCommand::Kind::Compare && !c.value.isEmpty()) ||
                   (c.kind == CtlCommand::Kind::Doctor && c.name.isEmpty());
        });
    if (plan.options.device.isEmpty() && !needsNoDevice)
        throw UsageError{QStringLiteral("potrzebna opcja --device")};
    bool port = false, onlyWrites = true, calibrates = false;
    for (const CtlCommand& c : plan.commands) {
        port |= c.usesPort();
        calibrates |=
            c.kind == CtlCommand::Kind::Calibrate || c.kind == CtlCommand::Kind::Procedure;
        if (c.usesPort() && c.kind != CtlCommand::Kind::Write && c.kind != CtlCommand::Kind::Reset)
            onlyWrites = false;
    }
    if (!plan.options.report.isEmpty() && !calibrates)
        throw UsageError{QStringLiteral(
            "--report zapisuje polecenie calibrate albo procedure, a nie ma żadnego")};
    if (port && plan.options.port.isEmpty())
        throw UsageError{QStringLiteral("te polecenia potrzebują opcji --port")};
    if (plan.options.slaves.contains(0) && !onlyWrites)
        throw UsageError{
            QStringLiteral("--slave 0 (rozgłoszenie) nie dostaje odpowiedzi: tylko zapisy")};
    return plan;
}

void CheckAgainstDevice(CtlPlan& plan, const RegisterTree& tree) {
    using Kind = CtlCommand::Kind;
    for (CtlCommand& c : plan.commands) {
        if (c.kind == Kind::Read || c.kind == Kind::Monitor) Named(tree, c.name);
        if (c.kind == Kind::Write) CheckWrite(c, tree);
        if (c.kind == Kind::Calibrate) CheckCalibration(c, tree);
        if (c.kind == Kind::Doctor && !c.name.isEmpty() &&
            AccessCodeOf(Named(tree, c.name)->record.Access) == acNone)
            throw AppError(QStringLiteral("doctor --register: \"%1\" to grupa, a potrzebny "
                                          "jest rejestr")
                               .arg(c.name));
        if (c.kind == Kind::Procedure) ReadProcedureFile(c.name, tree); // refused before the port
        if ((c.kind == Kind::Scan || c.kind == Kind::Doctor) && !FirstRegister(tree))
            throw AppError(QStringLiteral("%1: plik urządzenia nie ma rejestru do odczytu")
                               .arg(c.kind == Kind::Scan ? "scan" : "doctor"));
    }
}

void AddScanProbe(RegisterTree& tree) {
    tree.appendTopLevel()->record = RegisterNode{QStringLiteral("rejestr 0"),
                                                 {},
                                                 QStringLiteral("0"),
                                                 QStringLiteral("WORD"),
                                                 QStringLiteral("1"),
                                                 QStringLiteral("RW"),
                                                 {}};
}

TreeNode* FirstRegister(const RegisterTree& tree) {
    for (TreeNode* n = const_cast<RegisterTree&>(tree).First(); n; n = RegisterTree::GetNext(n))
        if (AccessCodeOf(n->record.Access) != acNone) return n;
    return nullptr;
}

QStringList ReportPaths(const QString& report, int calibrations) {
    if (calibrations <= 1) return {report};
    const QFileInfo info(report);
    const QString suffix = info.suffix().isEmpty() ? QString() : '.' + info.suffix();
    const QString base = report.left(report.size() - suffix.size());
    QStringList paths;
    for (int n = 1; n <= calibrations; ++n)
        paths << base + '_' + QString::number(n) + suffix;
    return paths;
}

QString UsageText() {
    return QStringLiteral(
        "użycie: vardelctl [--port PORT] [--baud B] [--parity none|even|odd]\n"
        "                  [--slave N[,N|N-N...]] [--timeout MS] [--format log|csv|json]\n"
        "                  [--stats] [--retries N] [--stop-on-error] [--echo]\n"
        "                  [--rs485]\n"
        "                  --device PLIK.dat [--log PLIK] [--report PLIK] [-v] POLECENIE...\n"
        "        vardelctl -h | --help | --version\n");
}

QString HelpText() {
    return UsageText() + QStringLiteral(R"(
Silnik transakcji okna vardel z wiersza poleceń: żądania Modbus RTU do jednego urządzenia
przez port szeregowy, rejestry nazwane jak w pliku urządzenia.

Opcje (domyślnie):
  --port PORT        port szeregowy: nazwa, np. ttyUSB0 (/dev/ttyUSB0) albo COM3, lub ścieżka;
                     tcp:HOST:PORT to serwer portu szeregowego, który przenosi ramki RTU
                     z CRC przez TCP (okno odczytu jak na linii)
  --baud B           1200, 2400, 4800, 9600, 19200, 38400, 57600 albo 115200 (19200)
  --parity P         none (2 bity stopu), even albo odd (1 bit stopu) (even)
  --slave N          adres urządzenia 0-247; 0 to rozgłoszenie, tylko dla zapisów (247);
                     lista, np. 1,3,5-9: polecenia po kolei dla każdego adresu
  --timeout MS       ile żądanie czeka na odpowiedź, 1-60000 (40)
  --device PLIK.dat  plik urządzenia: ścieżka albo sama nazwa, szukana w folderze urządzeń
                     użytkownika, w zainstalowanych i obok programu (wymagany, poza ports
                     i scan)
  --log PLIK         zapisz też dziennik jak okno (Windows-1250, CR LF)
  --report PLIK      protokół kalibracji: PLIK.pdf, w innym razie CSV; przy kilku
                     poleceniach calibrate PLIK_1.pdf, PLIK_2.pdf... po jednym na każde
  --format F         log: wiersze okna dziennika; csv albo json: rekord na każde żądanie (log)
  --stats            na końcu statystyka żądań na stderr, w formacie --format
  --retries N        ponów odczyt lub zapis bez poprawnej odpowiedzi do N razy, 0-10 (0);
                     wyjątek to odpowiedź urządzenia: ponawiany jest tylko 6 (zajęte)
  --stop-on-error    pierwsze polecenie z nieudanym żądaniem kończy przebieg
  --echo             usuń echo przejściówki: własne bajty żądania przed odpowiedzią; bez
                     tej opcji takie echo kończy żądanie jako "echo łącza"
  --rs485            steruj kierunkiem linii RS-485: tryb RS-485 sterownika portu, a gdy go
                     nie ma, RTS podniesione na czas wysyłania żądania
  -v                 ruch TX:/RX: na stderr
  -h, --help         ten tekst;  --version  wersja

Polecenia, wykonywane po kolei, gdy cały wiersz został sprawdzony:
  read NAZWA                     rejestr albo każdy rejestr grupy
  write NAZWA WARTOŚĆ            wartość, tak jak przyjmuje ją okno (liczby rzeczywiste:
                                 12,5 albo 12.5)
  reset                          restart komunikacji (diagnostyka 8/1)
  monitor NAZWA OKRES_MS LICZBA  LICZBA odczytów co OKRES_MS (>= 100); 0: do Ctrl-C
  calibrate ZAKRES LICZBA [--store]
                                 LICZBA próbek R0; --store zapisuje średnią (100R, 400R)
  list                           rejestry pliku urządzenia
  scan [OD-DO]                   które adresy odpowiadają (1-247): odczyt pierwszego
                                 rejestru pliku, bez --device rejestru 0 (funkcja 3)
  ports                          porty szeregowe znane systemowi
  identify                       identyfikacja urządzenia: funkcja 43/14 (producent, kod
                                 produktu, wersja i pozostałe obiekty) i 17 (identyfikator
                                 serwera); tylko odczyt
  snapshot PLIK.json             zrzut ustawień: każdy rejestr RW i RP z wartością i słowami,
                                 typ i SHA-256 pliku urządzenia, identyfikacja, adres
  compare ZRZUT.json [ZRZUT2.json]
                                 porównanie zrzutu z urządzeniem teraz albo dwóch zrzutów:
                                 każdy rejestr przed i po, zmienione oznaczone *; kod
                                 wyjścia 5, gdy się różnią
  restore ZRZUT.json [--yes] [--force-other-device]
                                 zapisuje z powrotem rejestry RW i RP, które różnią się od
                                 zrzutu, i odczytuje każdy; bez --yes tylko plan, nic nie
                                 zapisuje; inne urządzenie (numer seryjny, typ, plik) tylko
                                 z --force-other-device
  history [NUMER] [--records FOLDER]
                                 protokoły kalibracji z kalibracje/ w folderze danych okna
                                 (albo z FOLDER), wszystkie albo urządzenia o tym numerze
                                 seryjnym, najstarsze najpierw
  procedure PLIK.procedure.json [--operator KTO] [--checker KTO] [--customer KTO]
            [--place GDZIE] [--reference ID|PUNKT=ID]... [--standards wzorce.json]
            [--temperature T] [--humidity H] [--as-found-only | --adjust [--yes]]
                                 procedura kalibracji: każdy punkt jak znaleziono (przed
                                 każdym pytanie na stderr, wiersz ze stdin: pusty to
                                 wartość nominalna, inaczej rzeczywista wartość wzorca);
                                 z --adjust regulacja (stare wartości odczytane najpierw,
                                 zapis tylko z --yes, każdy odczytany z powrotem) i punkty
                                 jak pozostawiono; wzorce z wzorce.json folderu danych
  doctor [OD-DO] [--register NAZWA]
                                 diagnostyka łącza: szybkości i parzystości (i adresy
                                 OD-DO, --slave albo 247 i 1-246), echo, czasy odpowiedzi
                                 wobec czasu na linii, opóźnienie przejściówki USB; pyta
                                 o pierwszy rejestr pliku albo o NAZWA (z --device); nic
                                 nie zapisuje

Kod wyjścia: 0 każde żądanie dostało odpowiedź; 1 błąd (przyczyna na stderr); 2 błąd
wywołania; 3 któreś żądanie nie dostało poprawnej odpowiedzi (każde mówi dlaczego na stderr);
4 procedura: któryś punkt nie jest zgodny (niezgodny albo nieokreślony);
130, 143 albo 129 przerwanie sygnałem SIGINT, SIGTERM albo SIGHUP (czekanie na odpowiedź
kończy się od razu, dziennik jest zapisany, port zwolniony).

Przykłady:
  vardel-sim --device TR100.dat --pty /tmp/tr100 &
  vardelctl --device TR100.dat --port /tmp/tr100 read Pomiary write Tryb 2
  vardelctl --device TR100.dat --port /tmp/tr100 --format csv monitor Temperatura 500 20
  vardelctl --port /tmp/tr100 scan 240-247
  vardelctl --port /dev/ttyUSB0 doctor 1-10
)");
}
