#include "serial.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSettings>
#include <algorithm>
#include <cstring>
#include <utility>
#ifdef VARDEL_TCP
#include <QTcpSocket>
#endif
#ifndef Q_OS_WIN
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#include <chrono>
#include <thread>

std::optional<LineParameters> ParseLineSettings(const QString& text) {
    const QStringList fields = text.split(',');
    if (fields.size() != 4) return std::nullopt;
    LineParameters p;
    bool ok = false;
    p.baud = fields[0].trimmed().toInt(&ok);
    if (!ok || p.baud <= 0) return std::nullopt;
    const QString parity = fields[1].trimmed().toLower();
    if (parity == "n")
        p.parity = QSerialPort::NoParity;
    else if (parity == "e")
        p.parity = QSerialPort::EvenParity;
    else if (parity == "o")
        p.parity = QSerialPort::OddParity;
    else if (parity == "m")
        p.parity = QSerialPort::MarkParity;
    else if (parity == "s")
        p.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;
    const int data = fields[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8) return std::nullopt;
    p.dataBits = static_cast<QSerialPort::DataBits>(data);
    const QString stop = fields[3].trimmed();
    if (stop == "1")
        p.stopBits = QSerialPort::OneStop;
    else if (stop == "1.5")
        p.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == "2")
        p.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return p;
}

const QStringList& StandardBaudRates() {
    static const QStringList rates{"1200",  "2400",  "4800",  "9600",
                                   "19200", "38400", "57600", "115200"};
    return rates;
}

QString WindowsPortPath(const QString& name) {
    QString path = name.trimmed();
    while (path.startsWith(QLatin1String("\\\\.\\")) || path.startsWith(QLatin1String("//./")))
        path.remove(0, 4);
    return QStringLiteral("\\\\.\\") + path;
}

namespace {
QString PortNameOf(const QString& portPath) {
#ifdef Q_OS_WIN
    return WindowsPortPath(portPath).mid(4);
#else
    return QFileInfo(QFileInfo(portPath).canonicalFilePath()).fileName();
#endif
}
} // namespace

std::optional<int> AdapterLatencyMs(const QString& portPath,
                                    [[maybe_unused]] const QString& sysfsRoot) {
    const QString name = PortNameOf(portPath);
    if (name.isEmpty()) return std::nullopt;
#ifdef Q_OS_WIN
    QSettings ftdi(QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS"),
                   QSettings::NativeFormat);
    for (const QString& device : ftdi.childGroups()) {
        ftdi.beginGroup(device);
        for (const QString& instance : ftdi.childGroups()) {
            ftdi.beginGroup(instance + QStringLiteral("/Device Parameters"));
            const bool ours = ftdi.value(QStringLiteral("PortName"))
                                  .toString()
                                  .compare(name, Qt::CaseInsensitive) == 0;
            bool ok = false;
            const int ms = ftdi.value(QStringLiteral("LatencyTimer")).toInt(&ok);
            ftdi.endGroup();
            if (ours) return ok ? std::optional<int>(ms) : std::nullopt;
        }
        ftdi.endGroup();
    }
    return std::nullopt;
#else
    QFile timer(sysfsRoot + '/' + name + QStringLiteral("/latency_timer"));
    if (!timer.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const int ms = QString::fromLatin1(timer.read(16)).trimmed().toInt(&ok);
    return ok ? std::optional<int>(ms) : std::nullopt;
#endif
}

QString AdapterLatencyNote(const QString& portPath, std::optional<int> latencyMs) {
    if (!latencyMs || *latencyMs <= 2) return {};
    const QString name = PortNameOf(portPath);
#ifdef Q_OS_WIN
    const QString change =
        QStringLiteral(
            "Menedżer urządzeń → Porty (COM i LPT) → %1 → Właściwości → Ustawienia portu → "
            "Zaawansowane → Czasomierz opóźnienia (ms): 1")
            .arg(name);
#else
    const QString change =
        QStringLiteral("echo 1 > /sys/bus/usb-serial/devices/%1/latency_timer (jako root)")
            .arg(name);
#endif
    return QStringLiteral("Adapter USB portu %1 oddaje odebrane bajty co %2 ms: każda wymiana "
                          "trwa o tyle dłużej. Zmiana: %3.")
        .arg(name)
        .arg(*latencyMs)
        .arg(change);
}

bool IsTcpPort(const QString& text) {
    return text.trimmed().startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive);
}

std::optional<TcpAddress> ParseTcpPort(const QString& text) {
    if (!IsTcpPort(text)) return std::nullopt;
    const QString rest = text.trimmed().mid(4);
    const qsizetype colon = rest.lastIndexOf(':');
    if (colon <= 0) return std::nullopt;
    QString host = rest.left(colon);
    if (host.startsWith('[') && host.endsWith(']')) host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = rest.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || host.isEmpty() || host.contains(' '))
        return std::nullopt;
    return TcpAddress{host, static_cast<quint16>(port)};
}

bool TcpPortsAvailable() {
#ifdef VARDEL_TCP
    return true;
#else
    return false;
#endif
}

QString PortPathFor(const QString& name) {
    if (IsTcpPort(name)) return name.trimmed();
#ifdef Q_OS_WIN
    return WindowsPortPath(name);
#else
    return QDir::isAbsolutePath(name) ? name : QStringLiteral("/dev/") + name;
#endif
}

QStringList PortNames() {
    QStringList names;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        names << info.portName();
    return names;
}

QString PortDetails(const QString& name) {
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.portName() != name) continue;
        QStringList details;
        if (!info.description().isEmpty()) details << info.description();
        if (!info.manufacturer().isEmpty())
            details << QStringLiteral("producent: ") + info.manufacturer();
        if (!info.serialNumber().isEmpty())
            details << QStringLiteral("nr seryjny: ") + info.serialNumber();
        return details.join(QStringLiteral(", "));
    }
    return {};
}

QString ListPorts() {
    QStringList names = PortNames();
    for (QString& name : names)
        if (name.contains(' ') || name.contains(',') || name.contains('"'))
            name = '"' + name.replace('"', QLatin1String("\"\"")) + '"';
    return names.join(',');
}

constexpr qint64 kReadBufferBytes = 4 * kReplySize;
// How long a TCP connection may take to come up; the window waits this long at most.
[[maybe_unused]] constexpr int kConnectMs = 3000;

// USB serial adapters hold received bytes for their latency timer (16 ms on FTDI) unless
// asked not to; ports and drivers without the flag simply keep their setting.
// The handle is a file descriptor on POSIX systems and a HANDLE (a pointer) on Windows.
using PortHandle = decltype(std::declval<QSerialPort&>().handle());

static void SetLowLatency(PortHandle handle) {
#ifdef Q_OS_LINUX
    serial_struct info{};
    if (ioctl(handle, TIOCGSERIAL, &info) != 0) return;
    info.flags |= ASYNC_LOW_LATENCY;
    ioctl(handle, TIOCSSERIAL, &info);
#else
    Q_UNUSED(handle);
#endif
}

// Linux's RS-485 mode: the driver raises RTS for each write and drops it when the last bit is
// out, with no delay before or after. False where the driver has no such mode.
static bool SetKernelRs485(PortHandle handle, bool on) {
#ifdef Q_OS_LINUX
    serial_rs485 conf{};
    if (ioctl(handle, TIOCGRS485, &conf) != 0) return false;
    if (on) {
        conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        conf.flags &= ~static_cast<decltype(conf.flags)>(SER_RS485_RTS_AFTER_SEND);
        conf.delay_rts_before_send = 0;
        conf.delay_rts_after_send = 0;
    } else {
        conf.flags &= ~static_cast<decltype(conf.flags)>(SER_RS485_ENABLED);
    }
    return ioctl(handle, TIOCSRS485, &conf) == 0;
#else
    Q_UNUSED(handle);
    Q_UNUSED(on);
    return false;
#endif
}

// Windows' RTS toggle: the driver holds RTS while it has bytes to send.
static bool SetRtsToggle(PortHandle handle, bool on) {
#ifdef Q_OS_WIN
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return false;
    dcb.fRtsControl = on ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
    return SetCommState(handle, &dcb) != 0;
#else
    Q_UNUSED(handle);
    Q_UNUSED(on);
    return false;
#endif
}

bool SendWithRts(const RtsSteps& steps) {
    if (!steps.setRts(true)) return false;
    const bool written = steps.write();
    if (written) steps.drain();
    const bool dropped = steps.setRts(false);
    return written && dropped;
}

bool IsPseudoTerminal(const QString& portPath) {
#ifdef Q_OS_LINUX
    return QFileInfo(portPath).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
#else
    Q_UNUSED(portPath);
    return false;
#endif
}

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() {
    ClosePort();
}

// Qt says "permission" both when the port is locked by another program and when the user may
// not open it: a port the user may read and write is a busy one. On Windows a refused port is
// always one that another program holds.
bool PortIsBusy(const QString& portPath) {
#ifdef Q_OS_WIN
    Q_UNUSED(portPath);
    return true;
#else
    const QFileInfo port(portPath);
    return port.isReadable() && port.isWritable();
#endif
}

QString SerialLink::Reason(const QString& what) const {
    QString why;
#ifdef VARDEL_TCP
    if (const auto* socket = static_cast<const QTcpSocket*>(socket_.get())) {
        switch (socket->error()) {
        case QAbstractSocket::ConnectionRefusedError:
            why = QStringLiteral("połączenie odrzucone (nikt nie słucha na tym porcie)");
            break;
        case QAbstractSocket::RemoteHostClosedError:
            why = QStringLiteral("druga strona zamknęła połączenie");
            break;
        case QAbstractSocket::HostNotFoundError:
            why = QStringLiteral("nie ma takiego hosta");
            break;
        case QAbstractSocket::SocketTimeoutError:
            why = QStringLiteral("brak połączenia w ciągu %1 ms").arg(kConnectMs);
            break;
        case QAbstractSocket::NetworkError:
            why = QStringLiteral("sieć niedostępna");
            break;
        default:
            why = QStringLiteral("błąd połączenia %1").arg(int(socket->error()));
            break;
        }
        return QStringLiteral("%1: %2").arg(what, why);
    }
#endif
    switch (port_.error()) {
    case QSerialPort::PermissionError:
        why = PortIsBusy(what) ? QStringLiteral("port zajęty przez inny program")
                               : QStringLiteral("brak uprawnień do portu (użytkownik spoza "
                                                "grupy dialout)");
        break;
    case QSerialPort::DeviceNotFoundError:
        why = QStringLiteral("nie ma takiego portu");
        break;
    case QSerialPort::OpenError:
        why = QStringLiteral("port jest już otwarty");
        break;
    case QSerialPort::ResourceError:
        why = QStringLiteral("port zniknął");
        break;
    case QSerialPort::UnsupportedOperationError:
        why = QStringLiteral("port odrzucił ustawienia");
        break;
    default:
        why = QStringLiteral("błąd portu %1").arg(int(port_.error()));
        break;
    }
    return QStringLiteral("%1: %2").arg(what, why);
}

bool SerialLink::OpenPort(const QString& portPath, const QString& lineSettings) {
    if (com.Open) ClosePort();
    com.PortPath = portPath;
    com.LineSettings = lineSettings;
    failureReason.clear();
    lateReplyExpected_ = false;
    if (IsTcpPort(portPath)) {
        // The server's own serial line runs at the baud rate given: its replies take their
        // time on that wire before they reach the connection.
        if (!OpenTcp(portPath)) return false;
        pty_ = false;
        if (!SetLine(lineSettings)) {
            ClosePort();
            return false;
        }
        com.Open = true;
        StartDirectionControl(portPath);
        return true;
    }
    port_.setPortName(portPath);
    if (!port_.open(QIODevice::ReadWrite)) {
        failureReason = Reason(portPath);
        return false;
    }
    pty_ = IsPseudoTerminal(portPath);
    if (!SetLine(lineSettings)) {
        port_.close();
        return false;
    }
    // Whatever waited in the input queue was meant for someone else.
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // A line that talks between requests fills this much and no more; the rest waits in the
    // system's queue, which the next request purges. A reply is never longer than the area.
    port_.setReadBufferSize(kReadBufferBytes);
    SetLowLatency(port_.handle());
    port_.clear(QSerialPort::AllDirections);
    port_.readAll();
    com.Open = true;
    StartDirectionControl(portPath);
    return true;
}

void SerialLink::SetRs485(bool on) {
    if (on == rs485_) return;
    rs485_ = on;
    if (!com.Open) return;
    StopDirectionControl();
    StartDirectionControl(com.PortPath.isEmpty() ? port_.portName() : com.PortPath);
}

QString SerialLink::TakeDirectionNote() {
    return std::exchange(directionNote_, QString());
}

// Tries the driver's own mode first: it switches at the exact bit, where RTS set by this
// program may lag behind the last byte by a scheduling delay.
void SerialLink::StartDirectionControl(const QString& portPath) {
    direction_ = DirectionControl::Off;
    directionNote_.clear();
    if (!rs485_ || !com.Open) return;
    if (socket_) {
        directionNote_ = QStringLiteral("%1: kierunkiem RS-485 steruje serwer portu, nie ten "
                                        "program")
                             .arg(portPath.trimmed());
        return;
    }
    if (SetKernelRs485(port_.handle(), true)) {
        direction_ = DirectionControl::Kernel;
    } else if (SetRtsToggle(port_.handle(), true)) {
        direction_ = DirectionControl::Toggle;
    } else if (port_.setRequestToSend(false)) {
        direction_ = DirectionControl::Rts;
    } else {
        port_.clearError(); // a refused RTS leaves the port itself working
        directionNote_ = QStringLiteral("%1: port nie pozwala sterować kierunkiem RS-485 (nie "
                                        "ma trybu RS-485 ani linii RTS); żądania idą bez "
                                        "przełączania kierunku")
                             .arg(portPath);
    }
}

void SerialLink::StopDirectionControl() {
    if (port_.isOpen()) {
        if (direction_ == DirectionControl::Kernel) SetKernelRs485(port_.handle(), false);
        if (direction_ == DirectionControl::Toggle) SetRtsToggle(port_.handle(), false);
        if (direction_ == DirectionControl::Rts) port_.setRequestToSend(false);
    }
    direction_ = DirectionControl::Off;
}

bool SerialLink::OpenTcp(const QString& portPath) {
#ifdef VARDEL_TCP
    const std::optional<TcpAddress> address = ParseTcpPort(portPath);
    if (!address) {
        failureReason = QStringLiteral("%1: potrzebne tcp:HOST:PORT z portem 1 do 65535")
                            .arg(portPath.trimmed());
        return false;
    }
    auto* socket = new QTcpSocket;
    socket_.reset(socket);
    socket->connectToHost(address->host, address->port);
    if (!socket->waitForConnected(kConnectMs)) {
        failureReason = Reason(portPath.trimmed());
        socket_.reset();
        return false;
    }
    // A frame goes out whole at once, never held back to be joined with the next.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(kReadBufferBytes);
    return true;
#else
    failureReason = QStringLiteral("%1: ta kompilacja nie ma połączeń TCP (bez QtNetwork)")
                        .arg(portPath.trimmed());
    return false;
#endif
}

QIODevice& SerialLink::Stream() {
    if (socket_) return *socket_;
    return port_;
}

bool SerialLink::StreamBroken() const {
#ifdef VARDEL_TCP
    if (socket_)
        return static_cast<const QTcpSocket*>(socket_.get())->state() !=
               QAbstractSocket::ConnectedState;
#endif
    return port_.error() != QSerialPort::TimeoutError && port_.error() != QSerialPort::NoError;
}

bool SerialLink::Purge() {
    if (socket_) {
        // A connection has no queue to purge: whatever has arrived is read and dropped.
        while (socket_->bytesAvailable() > 0 || socket_->waitForReadyRead(0))
            socket_->readAll();
        return !StreamBroken();
    }
    if (!port_.clear(QSerialPort::AllDirections)) return false;
    port_.readAll(); // what Qt had already buffered counts as the input queue too
    return true;
}

bool SerialLink::SetLine(const QString& lineSettings) {
    const std::optional<LineParameters> p = ParseLineSettings(lineSettings);
    if (socket_) {
        // Nothing to set on a connection; the rate still times the server's serial line.
        if (!p)
            failureReason = QStringLiteral("%1: niepoprawne ustawienia łącza").arg(lineSettings);
        if (p) baud_ = p->baud;
        return p.has_value();
    }
    // A pseudo-terminal carries bytes, not characters on a line: it refuses parity, which
    // means nothing there, so only a real port must accept the framing.
    if (!p || !port_.setBaudRate(p->baud) || (!port_.setParity(p->parity) && !pty_) ||
        !port_.setDataBits(p->dataBits) || (!port_.setStopBits(p->stopBits) && !pty_)) {
        failureReason = p ? Reason(lineSettings)
                          : QStringLiteral("%1: niepoprawne ustawienia łącza").arg(lineSettings);
        return false;
    }
    baud_ = p->baud;
    return true;
}

bool SerialLink::ApplyLineSettings(const QString& lineSettings) {
    if (!com.Open) return false;
    failureReason.clear();
    if (!SetLine(lineSettings)) {
        SetLine(com.LineSettings); // the line keeps running as before
        return false;
    }
    com.LineSettings = lineSettings;
    return true;
}

int SerialLink::ReplyTimeMs() const {
    return pty_ ? 0 : LineTimeMs(expectedReplyBytes_, baud_);
}

void SerialLink::ClosePort() {
    StopDirectionControl();
    if (socket_) {
        socket_->close();
        socket_.reset();
        com.Open = false;
        return;
    }
    if (!port_.isOpen()) {
        com.Open = false;
        return;
    }
    port_.clear(QSerialPort::AllDirections);
    port_.close();
    com.Open = false;
}

bool SerialLink::SetPortTimeouts(std::uint16_t readInterval, std::uint16_t readMultiplier,
                                 std::uint16_t readConstant, std::uint16_t writeMultiplier,
                                 std::uint16_t writeConstant) {
    if (!com.Open) return false;
    readIntervalMs_ = readInterval;
    readTotalMs_ = readMultiplier * kReplySize + readConstant;
    writeTotalMs_ = writeMultiplier * kReplySize + writeConstant;
    return true;
}

void SerialLink::Lose(const QString& what) {
    failureReason = Reason(what);
    ClosePort();
    if (onLost) onLost();
}

// Waits are cut into slices so an interruption is seen within one.
int SerialLink::WaitSlice(qint64 wantedMs) const {
    constexpr qint64 kSliceMs = 50;
    return static_cast<int>(interrupted ? std::min(wantedMs, kSliceMs) : wantedMs);
}

void SerialLink::ExpectLateReply() {
    lateReplyExpected_ = true;
    quietSince_.start();
}

// Waits until no byte has arrived for a read window since the failed request, so a slow
// device's late reply lands here instead of in the next request's window. A line that never
// goes quiet is given up on after a few windows; the queue is purged before the write anyway.
bool SerialLink::DiscardLateReply() {
    lateReplyExpected_ = false;
    QElapsedTimer total;
    total.start();
    const qint64 limit = 4 * static_cast<qint64>(readTotalMs_);
    for (;;) {
        const qint64 left = readTotalMs_ - quietSince_.elapsed();
        if (left <= 0 || total.elapsed() >= limit) return true;
        if (interrupted && interrupted()) return true;
        QIODevice& stream = Stream();
        if (stream.bytesAvailable() == 0 && !stream.waitForReadyRead(WaitSlice(left))) {
            if (StreamBroken()) {
                Lose(com.PortPath);
                return false;
            }
            continue; // the time left is looked at again
        }
        stream.readAll();
        quietSince_.start();
    }
}

std::uint16_t SerialLink::WriteFrame(const std::uint8_t* bytes, std::uint16_t count,
                                     ReplyBuffer& reply) {
    lastReplyMs = -1;
    sent_.invalidate();
    if (!com.Open || (interrupted && interrupted())) return 0; // nothing new once interrupted
    if (lateReplyExpected_ && !DiscardLateReply()) return 0;
    if (!Purge()) {
        if (socket_) Lose(com.PortPath);
        return 0;
    }
    std::memset(reply.Bytes, 0, kReplySize);
    std::memset(transmit_, 0, kReplySize);
    count = std::min<std::uint16_t>(count, kReplySize);
    std::memcpy(transmit_, bytes, count);
    expectedReplyBytes_ = ExpectedReplyLength(transmit_, count);
    transmitted_ = 0;
    com.BytesWritten = 0;
    qint64 written = 0;
    if (!SendRequest(written, count)) {
        Lose(com.PortPath);
        return 0;
    }
    sent_.start(); // the reply's time counts from the last byte out
    com.BytesWritten = static_cast<std::uint32_t>(written);
    transmitted_ = static_cast<int>(written);
    return static_cast<std::uint16_t>(written);
}

bool SerialLink::SendRequest(qint64& written, int count) {
    QIODevice& stream = Stream();
    auto write = [&] {
        written = stream.write(reinterpret_cast<const char*>(transmit_), count);
        return written >= 0 && stream.waitForBytesWritten(writeTotalMs_);
    };
    auto drain = [&] {
        if (socket_) return;
#ifndef Q_OS_WIN
        tcdrain(port_.handle());
#else
        // A finished write on Windows means the driver has the bytes, not that the wire
        // does: RTS waits out the frame's time on the line.
        if (direction_ == DirectionControl::Rts)
            std::this_thread::sleep_for(std::chrono::milliseconds(LineTimeMs(count, baud_)));
#endif
    };
    if (direction_ == DirectionControl::Rts)
        return SendWithRts({[this](bool on) { return port_.setRequestToSend(on); }, write, drain});
    if (!write()) return false;
    drain();
    return true;
}

bool SerialLink::ReadReply(ReplyBuffer& reply) {
    reply.BytesRead = 0;
    com.BytesRead = 0;
    if (!com.Open) return false;
    QElapsedTimer total, sinceByte;
    total.start();
    int received = 0;
    // A long reply at a low baud rate takes longer on the wire than the read window itself.
    const qint64 window = readTotalMs_ + ReplyTimeMs();
    // With echo removal the request's own bytes come first: taken whole, then dropped.
    bool echoAhead = removeEcho && transmitted_ > 0;
    // Bounded whatever the bytes do: a line that never stops sending ends with the window too.
    while (received < kReplySize && total.elapsed() <= window) {
        const int complete =
            echoAhead ? transmitted_ : FrameLength(FrameKind::Reply, reply.Bytes, received);
        if (complete > 0 && received >= complete) {
            if (!echoAhead) break;
            echoAhead = false;
            // Not the echo after all: those bytes are the reply's beginning.
            if (std::equal(reply.Bytes, reply.Bytes + transmitted_, transmit_)) {
                std::memset(reply.Bytes, 0, transmitted_);
                received = 0;
            }
            continue;
        }
        qint64 wait = window - total.elapsed();
        if (received > 0) wait = std::min(wait, readIntervalMs_ - sinceByte.elapsed());
        QIODevice& stream = Stream();
        if (stream.bytesAvailable() == 0) {
            if (wait <= 0 || (interrupted && interrupted())) break;
            if (!stream.waitForReadyRead(WaitSlice(wait))) {
                if (StreamBroken()) {
                    Lose(com.PortPath);
                    return false;
                }
                continue; // the time left is looked at again
            }
        }
        // Take no more than the frame its header announces: bytes after it are never ours.
        const int want = std::min(kReplySize - received, complete > 0   ? complete - received
                                                         : received < 3 ? 3 - received
                                                                        : kReplySize);
        const qint64 n = stream.read(reinterpret_cast<char*>(reply.Bytes) + received, want);
        if (n < 0) {
            Lose(com.PortPath);
            return false;
        }
        if (n > 0) sinceByte.start();
        received += static_cast<int>(n);
    }
    reply.BytesRead = com.BytesRead = static_cast<std::uint32_t>(received);
    if (sent_.isValid()) lastReplyMs = sent_.nsecsElapsed() / 1e6;
    return true;
}
