// vardel-sim: a simulated transducer, a Modbus RTU slave built on libmodbus that serves the
// registers of a device file on a pseudo-terminal or a real port.
#include "line.h"
#include "link/modbus.h"
#include "registers.h"
#include "regmap/error.h"
#include "regmap/record.h"
#include "tools/places.h"
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
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
    int delayMs = 0, splitMs = 0;
    QMap<int, int> exceptions; // start address -> exception code
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
    Server(int slave, RegisterTables& tables, Faults faults)
        : slave_(slave), tables_(tables), faults_(std::move(faults)) {
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
        if (to != slave_ && to != 0) return {};
        if (IsRestartCommunications(request)) return request; // its reply is the echo
        [[maybe_unused]] const auto sent = write(pair_[0], request.constData(), request.size());
        std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(ctx_, query);
        Discard(pair_[1]);
        if (length <= 0) return {};
        const int function = query[1];
        const int address = query[2] << 8 | query[3];
        if (faults_.exceptions.contains(address))
            modbus_reply_exception(ctx_, query, faults_.exceptions[address]);
        else {
            if (IsReadFunction(function)) tables_.ApplyJitter(Random);
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

void Serve(const Line& line, Server& server, const Faults& faults, const Timing& timing,
           bool verbose) {
    long number = 0;
    while (!gStop) {
        const QByteArray request = ReadRequest(line.fd, 100);
        if (request.isEmpty()) continue;
        ++number;
        const auto started = std::chrono::steady_clock::now();
        if (verbose) Log("<-", request);
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
    faults.delayMs = ParseInteger(args.value("delay"));
    faults.splitMs = ParseInteger(args.value("split"));
    for (const QString& e : args.values("exception")) {
        const QStringList parts = e.split(':');
        if (parts.size() != 2) throw AppError("--exception wants ADDR:CODE");
        faults.exceptions[ParseInteger(parts[0]) & 0xFFFF] = ParseInteger(parts[1]);
    }
    Timing timing;
    timing.wireTime = args.isSet("wire-time");
    timing.baud = ParseInteger(args.value("baud"));
    timing.turnaroundMs = args.value("turnaround").toDouble();

    Line line = args.isSet("pty") ? OpenPty(args.value("pty"))
                                  : OpenPort(args.value("port"), timing.baud, args.value("parity"));
    std::printf("%s\n", qPrintable(args.isSet("pty") ? args.value("pty") : args.value("port")));
    std::fflush(stdout);
    Server server(ParseInteger(args.value("slave")), tables, faults);
    Serve(line, server, faults, timing, args.isSet("v"));
    CloseLine(line);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    QCoreApplication::setApplicationVersion(QStringLiteral(VARDEL_VERSION));
    args.setApplicationDescription(QStringLiteral(
        "Simulated Modbus RTU transducer serving a device file's registers: RO registers as\n"
        "input registers (function 4), the others as holding registers (3, 6, 16), filled\n"
        "from their Value texts; function 8 sub-function 1 is echoed. It prints the port's\n"
        "name once it listens.\n\n"
        "Exit status: 0 stopped by SIGINT or SIGTERM; 1 an error (the reason on stderr);\n"
        "2 a usage error.\n\n"
        "Examples:\n"
        "  vardel-sim --device TR100.dat --pty /tmp/tr100\n"
        "  vardel-sim --device TR100F.dat --port /dev/ttyUSB0 --baud 9600 --parity none "
        "--jitter R0:6"));
    args.addHelpOption();
    args.addOptions({
        {"version", "Print the version."},
        {"device", "Device file whose registers are served (required).", "FILE.dat"},
        {"slave", "Slave address (247).", "N", "247"},
        {"pty", "Open a pseudo-terminal and link its slave side here.", "LINK"},
        {"port", "Serve on a real serial port instead.", "DEVICE"},
        {"baud", "Baud rate of the port, and of --wire-time (19200).", "B", "19200"},
        {"parity", "none, even or odd, of the port (even).", "P", "even"},
        {"set", "Raw 16-bit words at an address.", "ADDR=WORD[,WORD...]"},
        {"jitter", "Uniform noise on a register at every read.", "NAME:AMPLITUDE"},
        {"seed", "Seed of the noise and garbage (random).", "N"},
        {"wire-time",
         "Time replies as the line would: transmission, 3.5-character gaps, turnaround."},
        {"turnaround", "Turnaround added by --wire-time, ms (2).", "MS", "2"},
        {"drop", "No reply to every Nth request (0: never).", "N", "0"},
        {"bad-crc", "Bad CRC in every Nth reply (0: never).", "N", "0"},
        {"exception", "Exception reply for requests at an address.", "ADDR:CODE"},
        {"garbage", "Random bytes instead of every Nth reply (0: never).", "N", "0"},
        {"overlong", "Pad every reply to 200 bytes."},
        {"delay", "Reply this late, ms (0).", "MS", "0"},
        {"split", "Send replies in two halves this far apart, ms (0: whole).", "MS", "0"},
        {"v", "Log requests and replies as hex on stderr."},
    });
    args.process(app);
    if (args.isSet("version")) {
        std::printf("vardel-sim %s\n", VARDEL_VERSION);
        return 0;
    }
    if (!args.isSet("device") || args.isSet("pty") == args.isSet("port")) {
        std::fputs("vardel-sim: --device and one of --pty or --port are required\n", stderr);
        return 2;
    }
    std::signal(SIGINT, [](int) { gStop = 1; });
    std::signal(SIGTERM, [](int) { gStop = 1; });
    try {
        return Run(args);
    } catch (const AppError& e) {
        std::fprintf(stderr, "vardel-sim: %s\n", qPrintable(e.message()));
        return 1;
    }
}
