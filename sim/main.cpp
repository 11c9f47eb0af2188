// vardel-sim: a simulated transducer, a Modbus RTU slave built on libmodbus that serves the
// registers of a device file on a pseudo-terminal or a real port.
#include "identity.h"
#include "line.h"
#include "link/modbus.h"
#include "registers.h"
#include "regmap/error.h"
#include "regmap/record.h"
#include "tools/places.h"
#include "transducer.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <modbus/modbus.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t gStop = 0;
std::mt19937 gRandom;

std::uint32_t Random() {
    return gRandom();
}

struct Faults {
    int drop = 0, badCrc = 0, garbage = 0;
    bool overlong = false;
    bool echo = false; // every request sent back at once, as an echoing adapter does
    int delayMs = 0, splitMs = 0;
    int hangUp = 0;            // over TCP: the connection closed instead of every N-th reply
    QString onlyAt;            // "4800,odd": silent unless the master's line is set so
    QMap<int, int> exceptions; // start address -> exception code
    QMap<int, int> refusals;   // the same for writes only: the register still reads
    QList<int> keep;           // addresses whose writes are acknowledged and not taken
    IdentityObjects identity;  // what function 43/14 answers
};

struct Timing {
    bool wireTime = false;
    int baud = 19200;
    double turnaroundMs = 2;
    // 11 bits a character: start, 8 data, parity or a second stop bit, stop.
    std::chrono::microseconds Characters(double count) const {
        return std::chrono::microseconds(std::int64_t(count * 11 * 1e6 / baud));
    }
    // From the first request byte to the last reply byte: the request, the 3.5 silent
    // characters that end it, the turnaround, the reply.
    std::chrono::microseconds ReplyDue(qsizetype request, qsizetype reply) const {
        return Characters(double(request) + 3.5 + double(reply)) +
               std::chrono::microseconds(std::int64_t(turnaroundMs * 1000));
    }
    // The silence after a reply before the line carries the next frame.
    std::chrono::microseconds FrameGap() const { return Characters(3.5); }
};

void Log(const char* direction, const QByteArray& bytes) {
    std::fprintf(stderr, "%s %s\n", direction,
                 qPrintable(HexText(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    std::uint16_t(bytes.size()))));
}

// libmodbus answers through one end of a socket pair; the simulator holds the other, so it
// can delay, split or spoil a reply before it goes on the line.
class Server {
public:
    // The first address is libmodbus's; the others are answered as it, with their own.
    Server(QList<int> slaves, RegisterTables& tables, Faults faults)
        : slave_(slaves.first()), others_(slaves.mid(1)), tables_(tables),
          faults_(std::move(faults)) {
        const int slave = slave_;
        socketpair(AF_UNIX, SOCK_STREAM, 0, pair_);
        fcntl(pair_[0], F_SETFL, O_NONBLOCK);
        ctx_ = modbus_new_rtu("/dev/null", 19200, 'E', 8, 1);
        modbus_set_slave(ctx_, slave);
        modbus_set_socket(ctx_, pair_[1]);
        modbus_set_byte_timeout(ctx_, 0, 20000);
    }
    ~Server() {
        modbus_free(ctx_);
        close(pair_[0]);
        close(pair_[1]);
    }

    QByteArray Answer(const QByteArray& request) {
        // A request for another slave is not ours to answer, nor to hand to libmodbus.
        const auto to = request.isEmpty() ? 0 : static_cast<std::uint8_t>(request[0]);
        if (others_.contains(to)) return Readdressed(AnswerFirst(Readdressed(request, slave_)), to);
        if (to != slave_ && to != 0) return {};
        return AnswerFirst(request);
    }

    QByteArray AnswerFirst(const QByteArray& request) {
        if (IsRestartCommunications(request)) return request; // its reply is the echo
        if (IsReadDeviceIdentification(request))
            return AnswerIdentification(request, faults_.identity);
        [[maybe_unused]] const auto sent = write(pair_[0], request.constData(), request.size());
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(ctx_, query);
        Discard(pair_[1]);
        if (length <= 0) return {};
        const int function = query[1];
        const int address = query[2] << 8 | query[3];
        if (faults_.exceptions.contains(address))
            modbus_reply_exception(ctx_, query, faults_.exceptions[address]);
        else if (IsWriteFunction(function) && faults_.refusals.contains(address))
            modbus_reply_exception(ctx_, query, faults_.refusals[address]);
        else if (IsWriteFunction(function) && faults_.keep.contains(address))
            return Acknowledged(request); // as a device that ignores the value
        else {
            if (IsReadFunction(function)) {
                tables_.ApplyJitter(Random);
                if (tables_.beforeRead) tables_.beforeRead();
            }
            modbus_reply(ctx_, query, length, tables_.mapping());
        }
        QByteArray reply;
        char chunk[512];
        ssize_t n;
        while ((n = read(pair_[0], chunk, sizeof chunk)) > 0)
            reply.append(chunk, n);
        return reply;
    }

    QByteArray Spoil(QByteArray reply, long number) const {
        if (faults_.badCrc && number % faults_.badCrc == 0) reply[reply.size() - 1] ^= 0x5A;
        if (faults_.garbage && number % faults_.garbage == 0) {
            reply.resize(1 + Random() % 16);
            for (char& c : reply)
                c = static_cast<char>(Random());
        }
        if (faults_.overlong) reply = reply.leftJustified(200, '\0');
        return reply;
    }

private:
    // The frame for another address, its CRC made again; an empty one stays empty.
    static QByteArray Readdressed(QByteArray frame, int slave) {
        if (frame.size() < 4) return frame;
        frame[0] = char(slave);
        frame.chop(2);
        const auto crc = Crc16(reinterpret_cast<const std::uint8_t*>(frame.constData()),
                               std::uint16_t(frame.size()));
        return frame + char(crc & 0xFF) + char(crc >> 8);
    }

    // A write's reply without the write: the request's first six bytes with their CRC.
    static QByteArray Acknowledged(const QByteArray& request) {
        return Readdressed(request.left(6) + "..", static_cast<std::uint8_t>(request[0]));
    }

    // Function 43/14, which libmodbus does not serve.
    bool IsReadDeviceIdentification(const QByteArray& r) const {
        const auto* b = reinterpret_cast<const std::uint8_t*>(r.constData());
        return r.size() == 7 && b[0] == slave_ && b[1] == fcEncapsulatedInterface &&
               b[2] == kMeiDeviceIdentification && CheckReplyCrc(b, 7);
    }

    // Diagnostics sub-function 1; libmodbus does not serve function 8 itself.
    bool IsRestartCommunications(const QByteArray& r) const {
        const auto* b = reinterpret_cast<const std::uint8_t*>(r.constData());
        return r.size() == 8 && b[0] == slave_ && b[1] == fcDiagnostics && b[2] == 0 && b[3] == 1 &&
               CheckReplyCrc(b, 8);
    }

    static void Discard(int fd) {
        const int flags = fcntl(fd, F_GETFL);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        char chunk[512];
        while (read(fd, chunk, sizeof chunk) > 0) {
        }
        fcntl(fd, F_SETFL, flags);
    }

    int slave_;
    QList<int> others_;
    RegisterTables& tables_;
    Faults faults_;
    modbus_t* ctx_;
    int pair_[2];
};

void Send(int fd, const QByteArray& reply, int splitMs) {
    if (splitMs <= 0 || reply.size() < 2) {
        WriteAll(fd, reply);
        return;
    }
    WriteAll(fd, reply.left(reply.size() / 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(splitMs));
    WriteAll(fd, reply.mid(reply.size() / 2));
}

// Control lines for the transducer, from standard input ("-") or a FIFO, read between
// requests without waiting.
class Control {
public:
    Control(const QString& path, Transducer* transducer) : transducer_(transducer) {
        if (path.isEmpty() || !transducer) return;
        // Read and write: a FIFO with none of its writers left is not at its end.
        fd_ = path == QLatin1String("-") ? 0 : open(path.toLocal8Bit().constData(), O_RDWR);
        if (fd_ < 0) throw AppError(QStringLiteral("--control: nie można otworzyć %1").arg(path));
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Control() {
        if (fd_ > 0) close(fd_);
    }
    void Poll() {
        if (fd_ < 0) return;
        char chunk[256];
        ssize_t n;
        while ((n = read(fd_, chunk, sizeof chunk)) > 0)
            pending_.append(chunk, n);
        if (n == 0) fd_ = -1; // standard input ended: nothing more will come
        for (qsizetype end; (end = pending_.indexOf('\n')) >= 0;) {
            const QString line = QString::fromUtf8(pending_.left(end));
            pending_.remove(0, end + 1);
            const QString why = transducer_->TakeControlLine(line);
            if (!why.isEmpty())
                std::fprintf(stderr, "vardel-sim: %s\n", qPrintable(why));
            else if (!line.trimmed().isEmpty())
                std::fprintf(stderr, "vardel-sim: wejście %s\n",
                             qPrintable(QString::number(transducer_->input(), 'g', 10)));
        }
    }

private:
    Transducer* transducer_ = nullptr;
    int fd_ = -1;
    QByteArray pending_;
};

void Serve(Line& line, Server& server, const Faults& faults, const Timing& timing, bool verbose,
           Control& control) {
    long number = 0;
    const bool tcp = line.listen >= 0;
    while (!gStop) {
        control.Poll();
        if (tcp && line.fd < 0) {
            AcceptConnection(line, 100);
            continue;
        }
        bool closed = false;
        const QByteArray request = ReadRequest(line.fd, 100, tcp ? &closed : nullptr);
        if (closed) HangUp(line);
        if (request.isEmpty()) continue;
        ++number;
        if (tcp && faults.hangUp && number % faults.hangUp == 0) {
            if (verbose) Log("<-", request);
            HangUp(line); // as a gateway that drops the connection: this request is lost
            continue;
        }
        const auto started = std::chrono::steady_clock::now();
        if (verbose) Log("<-", request);
        if (faults.echo) WriteAll(line.fd, request);
        // At another rate or parity a device hears only noise, and answers nothing.
        if (!faults.onlyAt.isEmpty() && LineSeen(line) != faults.onlyAt) continue;
        QByteArray reply = server.Answer(request);
        if (reply.isEmpty() || (faults.drop && number % faults.drop == 0)) continue;
        reply = server.Spoil(reply, number);
        auto due = started + std::chrono::milliseconds(faults.delayMs);
        if (timing.wireTime) due += timing.ReplyDue(request.size(), reply.size());
        std::this_thread::sleep_until(due);
        if (verbose) Log("->", reply);
        Send(line.fd, reply, faults.splitMs);
        // A request sent into the gap waits in the pty until the gap is over.
        if (timing.wireTime) std::this_thread::sleep_for(timing.FrameGap());
    }
}

int Run(const QCommandLineParser& args) {
    RegisterTables tables;
    const QString device =
        FindDeviceFile(args.value("device"), QCoreApplication::applicationFilePath());
    for (const QString& warning : tables.LoadDevice(device))
        std::fprintf(stderr, "vardel-sim: %s\n", qPrintable(warning));
    for (const QString& set : args.values("set"))
        tables.SetWords(set);
    for (const QString& jitter : args.values("jitter"))
        tables.AddJitter(jitter);
    gRandom.seed(args.isSet("seed") ? ParseInteger(args.value("seed")) : std::random_device()());

    Faults faults;
    faults.drop = ParseInteger(args.value("drop"));
    faults.badCrc = ParseInteger(args.value("bad-crc"));
    faults.garbage = ParseInteger(args.value("garbage"));
    faults.overlong = args.isSet("overlong");
    faults.echo = args.isSet("echo");
    faults.delayMs = ParseInteger(args.value("delay"));
    faults.splitMs = ParseInteger(args.value("split"));
    for (const char* option : {"exception", "refuse"})
        for (const QString& e : args.values(QLatin1String(option))) {
            const QStringList parts = e.split(':');
            if (parts.size() != 2)
                throw AppError(QStringLiteral("--%1: potrzebne ADRES:KOD").arg(option));
            (qstrcmp(option, "refuse") == 0 ? faults.refusals
                                            : faults.exceptions)[ParseInteger(parts[0]) & 0xFFFF] =
                ParseInteger(parts[1]);
        }
    Timing timing;
    timing.wireTime = args.isSet("wire-time");
    timing.baud = ParseInteger(args.value("baud"));
    timing.turnaroundMs = args.value("turnaround").toDouble();

    faults.identity.objects =
        args.isSet("identity")
            ? ParseIdentityObjects(args.value("identity"))
            : QMap<int, QByteArray>{
                  {0, "vardel"}, {1, QFileInfo(device).completeBaseName().toLatin1()}, {2, "1.0"}};
    faults.identity.perReply = ParseInteger(args.value("identity-parts"));
    faults.identity.refuse = args.isSet("no-identity");
    for (const QString& keep : args.values("keep"))
        faults.keep << (ParseInteger(keep) & 0xFFFF);
    faults.hangUp = ParseInteger(args.value("hang-up"));
    faults.onlyAt = args.value("only-at");
    if (!faults.onlyAt.isEmpty() && !args.isSet("pty"))
        throw AppError(QStringLiteral("--only-at: tylko z --pty"));
    Line line = args.isSet("pty") ? OpenPty(args.value("pty"))
                : args.isSet("tcp")
                    ? ListenTcp(ParseInteger(args.value("tcp")))
                    : OpenPort(args.value("port"), timing.baud, args.value("parity"));
    std::printf("%s\n", qPrintable(line.name));
    std::fflush(stdout);
    QList<int> slaves;
    for (const QString& slave : args.value("slave").split(','))
        slaves << ParseInteger(slave);
    std::unique_ptr<Transducer> transducer;
    if (args.isSet("transducer")) {
        TransducerSettings settings;
        auto number = [&](const char* option, double& into) {
            if (args.isSet(option) && !ParseDecimal(args.value(option), into))
                throw AppError(QStringLiteral("--%1: potrzebna liczba, a jest \"%2\"")
                                   .arg(QLatin1String(option), args.value(option)));
        };
        number("gain", settings.gain);
        number("offset", settings.offset);
        number("input", settings.input);
        settings.noise = ParseInteger(args.value("noise"));
        transducer = std::make_unique<Transducer>(tables, settings);
        tables.beforeRead = [&transducer] { transducer->Update(Random); };
    }
    Control control(args.value("control"), transducer.get());
    Server server(slaves, tables, faults);
    Serve(line, server, faults, timing, args.isSet("v"), control);
    CloseLine(line);
    return 0;
}

// The help as the parser lays it out, its headings and usage line in Polish.
QString PolishHelp(QString text) {
    text.replace(QLatin1String("Usage: "), QString::fromUtf8("Użycie: "));
    text.replace(QLatin1String("[options]"), QString::fromUtf8("[opcje]"));
    text.replace(QLatin1String("Options:"), QString::fromUtf8("Opcje:"));
    return text;
}

// The parser's error in Polish for the cases it has: an unknown option, a missing value.
QString PolishParserError(const QCommandLineParser& args) {
    if (!args.unknownOptionNames().isEmpty()) {
        const QString name = args.unknownOptionNames().first();
        return QString::fromUtf8("nieznana opcja ") + (name.size() == 1 ? "-" : "--") + name;
    }
    const QString english = args.errorText();
    static const QRegularExpression missing(QStringLiteral("Missing value after '(.*)'"));
    if (const auto m = missing.match(english); m.hasMatch())
        return QString::fromUtf8("%1: brak wartości").arg(m.captured(1));
    return english;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDEL_VERSION));
    args.setApplicationDescription(QStringLiteral(
        "Symulowany przetwornik Modbus RTU z rejestrami pliku urządzenia: rejestry RO jako\n"
        "rejestry wejściowe (funkcja 4), pozostałe jako rejestry zapisu (3, 6, 16), z\n"
        "wartościami z ich tekstów Value; funkcja 8, podfunkcja 1 wraca echem. Gdy słucha,\n"
        "wypisuje nazwę portu.\n\n"
        "Kod wyjścia: 0 zatrzymany sygnałem SIGINT lub SIGTERM; 1 błąd (przyczyna na\n"
        "stderr); 2 błąd wywołania.\n\n"
        "Przykłady:\n"
        "  vardel-sim --device TR100.dat --pty /tmp/tr100\n"
        "  vardel-sim --device TR100.dat --tcp 5020\n"
        "  vardel-sim --device TR100F.dat --port /dev/ttyUSB0 --baud 9600 --parity none "
        "--jitter R0:6"));
    args.addOptions({
        {{"h", "help"}, QString::fromUtf8("Ten tekst.")},
        {"version", QString::fromUtf8("Wersja programu.")},
        {"device",
         QString::fromUtf8("Plik urządzenia, którego rejestry są obsługiwane (wymagany); sama "
                           "nazwa jest szukana jak w vardelctl --device."),
         QString::fromUtf8("PLIK.dat")},
        {"slave",
         QString::fromUtf8("Adres urządzenia (247); lista N,N... obsługuje każdy z "
                           "nich tymi samymi rejestrami."),
         "N", "247"},
        {"pty", QString::fromUtf8("Otwórz pseudoterminal i dowiąż tu jego stronę podrzędną."),
         QString::fromUtf8("DOWIĄZANIE")},
        {"port", QString::fromUtf8("Zamiast tego obsługuj prawdziwy port szeregowy."),
         QString::fromUtf8("URZĄDZENIE")},
        {"tcp",
         QString::fromUtf8("Albo ramki RTU przez TCP na 127.0.0.1 pod tym portem (0: wolny); "
                           "wypisuje tcp:127.0.0.1:PORT dla --port mastera."),
         "PORT"},
        {"only-at",
         QString::fromUtf8("Na pseudoterminalu: odpowiadaj tylko, gdy master ustawił tę "
                           "szybkość i parzystość (none, even, odd)."),
         QString::fromUtf8("B,PARZYSTOŚĆ")},
        {"hang-up",
         QString::fromUtf8("Przez TCP: zamiast odpowiedzi na co N-te żądanie zamknij "
                           "połączenie (0: nigdy)."),
         "N", "0"},
        {"baud", QString::fromUtf8("Szybkość portu i --wire-time (19200)."), "B", "19200"},
        {"parity", QString::fromUtf8("none, even albo odd, dla portu (even)."), "P", "even"},
        {"set", QString::fromUtf8("Surowe słowa 16-bitowe od adresu."),
         QString::fromUtf8("ADRES=SŁOWO[,SŁOWO...]")},
        {"jitter", QString::fromUtf8("Równomierny szum na rejestrze przy każdym odczycie."),
         QString::fromUtf8("NAZWA:AMPLITUDA")},
        {"seed", QString::fromUtf8("Ziarno szumu i śmieci (losowe)."), "N"},
        {"wire-time", QString::fromUtf8("Odpowiadaj w czasie linii: transmisja, przerwy 3,5 znaku, "
                                        "czas zwrotu.")},
        {"turnaround", QString::fromUtf8("Czas zwrotu dodawany przez --wire-time, ms (2)."), "MS",
         "2"},
        {"drop", QString::fromUtf8("Bez odpowiedzi na co N-te żądanie (0: nigdy)."), "N", "0"},
        {"bad-crc", QString::fromUtf8("Błędne CRC w co N-tej odpowiedzi (0: nigdy)."), "N", "0"},
        {"exception", QString::fromUtf8("Odpowiedź wyjątku na żądania pod adresem."),
         QString::fromUtf8("ADRES:KOD")},
        {"refuse",
         QString::fromUtf8("Odpowiedź wyjątku na zapisy (6, 16) pod adresem; odczyty "
                           "odpowiadają."),
         QString::fromUtf8("ADRES:KOD")},
        {"garbage", QString::fromUtf8("Losowe bajty zamiast co N-tej odpowiedzi (0: nigdy)."), "N",
         "0"},
        {"overlong", QString::fromUtf8("Dopełnij każdą odpowiedź do 200 bajtów.")},
        {"echo", QString::fromUtf8("Odeślij każde żądanie od razu, przed odpowiedzią, jak "
                                   "przejściówka z echem.")},
        {"delay", QString::fromUtf8("Odpowiadaj z tym opóźnieniem, ms (0)."), "MS", "0"},
        {"split",
         QString::fromUtf8("Wysyłaj odpowiedzi w dwóch połowach w tym odstępie, ms (0: w "
                           "całości)."),
         "MS", "0"},
        {"identity",
         QString::fromUtf8("Obiekty identyfikacji urządzenia (funkcja 43/14), np. "
                           "0=Firma,1=TR100F,2=1.02,128=SN-0001 (0=vardel, 1=nazwa pliku "
                           "urządzenia, 2=1.0)."),
         "ID=TEKST,..."},
        {"identity-parts",
         QString::fromUtf8("Najwyżej tyle obiektów w jednej odpowiedzi 43/14, reszta jako "
                           "\"more follows\" (0: ile się zmieści)."),
         "N", "0"},
        {"keep",
         QString::fromUtf8("Potwierdzaj zapisy pod adresem, ale zachowaj starą wartość, jak "
                           "urządzenie, które ignoruje zapis."),
         QString::fromUtf8("ADRES")},
        {"no-identity", QString::fromUtf8("Bez identyfikacji: funkcja 43/14 dostaje wyjątek 1.")},
        {"transducer",
         QString::fromUtf8("Przetwornik do kalibracji: R0 = offset + gain * wejście, a "
                           "Temperatura to prosta przez (N100, 100) i (N400, 400).")},
        {"gain", QString::fromUtf8("Wzmocnienie przetwornika, zliczeń na jednostkę (10)."), "G"},
        {"offset", QString::fromUtf8("Przesunięcie przetwornika, zliczeń (0)."), "O"},
        {"noise", QString::fromUtf8("Szum R0 przetwornika, ± zliczeń (0)."), "N", "0"},
        {"input", QString::fromUtf8("Wejście przyłożone do przetwornika, np. 100 (Ω)."),
         QString::fromUtf8("WARTOŚĆ")},
        {"control",
         QString::fromUtf8("Wiersze \"input WARTOŚĆ\" zmieniające wejście w czasie pracy: ze "
                           "standardowego wejścia (-) albo z kolejki FIFO."),
         QString::fromUtf8("PLIK")},
        {"v", QString::fromUtf8("Żądania i odpowiedzi szesnastkowo na stderr.")},
    });
    // The parser's own words are English; its usage line and headings in Polish here.
    if (!args.parse(app.arguments())) {
        std::fprintf(stderr, "vardel-sim: %s\n", qPrintable(PolishParserError(args)));
        return 2;
    }
    if (args.isSet("help")) {
        std::fputs(qPrintable(PolishHelp(args.helpText())), stdout);
        return 0;
    }
    if (args.isSet("version")) {
        std::printf("vardel-sim %s\n", VARDEL_VERSION);
        return 0;
    }
    if (!args.isSet("device") ||
        int(args.isSet("pty")) + int(args.isSet("port")) + int(args.isSet("tcp")) != 1) {
        std::fputs("vardel-sim: potrzebne --device i jedna z opcji --pty, --port albo --tcp\n",
                   stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN); // a connection closed by the master is not the end
    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });
    try {
        return Run(args);
    } catch (const AppError& e) {
        std::fprintf(stderr, "vardel-sim: %s\n", qPrintable(e.message()));
        return 1;
    }
}
