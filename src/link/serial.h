#pragma once
// The serial line link with the read window of a Modbus RTU master: a port over QSerialPort,
// or the same RTU frames carried over TCP to a serial device server ("tcp:HOST:PORT").
#include "link.h"
#include <QElapsedTimer>
#include <QSerialPort>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

struct TCOM {
    bool Open = false;
    std::uint32_t BytesWritten = 0;
    std::uint32_t BytesRead = 0;
    QString PortPath;
    QString LineSettings;
};

struct LineParameters {
    qint32 baud = 0;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};

// "19200,e,8,1" as the platform's device-control builder reads it: a positive baud rate,
// parity n/e/o/m/s, 5 to 8 data bits, 1, 1.5 or 2 stop bits. None when the text is invalid.
std::optional<LineParameters> ParseLineSettings(const QString& text);
// The standard rates of serial lines, 1200 to 115200, as texts.
const QStringList& StandardBaudRates();
// A serial device server that carries raw RTU frames, with their CRC, over TCP.
struct TcpAddress {
    QString host;
    quint16 port = 0;
};
// Whether a port text names a TCP connection: it begins with "tcp:".
bool IsTcpPort(const QString& text);
// "tcp:HOST:PORT" (an IPv6 host in brackets) with a port 1 to 65535; none otherwise.
std::optional<TcpAddress> ParseTcpPort(const QString& text);
// Whether this build can open "tcp:" ports (it has QtNetwork).
bool TcpPortsAvailable();
// "\\.\" + name on Windows; elsewhere "/dev/" + name, or the name itself when absolute;
// a "tcp:" text as typed, without surrounding blanks.
QString PortPathFor(const QString& name);
// The Windows device path of a port: COM12 and a typed \\.\COM12 or //./COM12 all give
// \\.\COM12; surrounding blanks go.
QString WindowsPortPath(const QString& name);
// The port names the system knows; ListPorts joins them by commas, quoting where needed.
QStringList PortNames();
// What the system says of a port: its description, maker and serial number (those it knows),
// for a tool tip; empty for a port it does not list.
QString PortDetails(const QString& name);
QString ListPorts();
bool IsPseudoTerminal(const QString& portPath);
// Whether a port that refused to open is held by another program (rather than closed to this
// user).
bool PortIsBusy(const QString& portPath);
// How long the port's USB adapter holds received bytes before it passes them on, in ms, where
// the system shows it: an FTDI driver's LatencyTimer in the Windows registry (the device whose
// PortName is the port's), the latency_timer of Linux's usb-serial devices under sysfsRoot.
// None where the port has no such setting.
std::optional<int> AdapterLatencyMs(const QString& portPath,
                                    const QString& sysfsRoot = "/sys/bus/usb-serial/devices");
// One line for the log when that latency is above 2 ms: what it costs and how to change it.
// Empty otherwise.
QString AdapterLatencyNote(const QString& portPath, std::optional<int> latencyMs);

// How a half-duplex RS-485 line is turned to send for a request and back to receive.
enum class DirectionControl {
    Off,    // the adapter switches by itself, or the line is full-duplex
    Kernel, // Linux's RS-485 mode of the driver: RTS while sending
    Toggle, // Windows' RTS toggle of the port (RTS_CONTROL_TOGGLE)
    Rts,    // RTS raised for the write and dropped once the line has drained
};
// A port as direction control by RTS sees it.
struct RtsSteps {
    std::function<bool(bool)> setRts; // false when the port refuses
    std::function<bool()> write;      // the whole request, false on failure
    std::function<void()> drain;      // returns once the last bit has left the wire
};
// Raises RTS, writes, waits for the line to drain and drops RTS, which drops even after a
// failed write so the line never stays turned to send. False when RTS or the write failed.
bool SendWithRts(const RtsSteps& steps);

class SerialLink : public ModbusLink {
public:
    // Asked while a reply is awaited: true ends the wait at once (the request then has no
    // reply), as when the operator interrupts a command-line run.
    std::function<bool()> interrupted;
    // Drop the request's own bytes that an echoing adapter puts before every reply.
    bool removeEcho = false;

    SerialLink();
    ~SerialLink() override;

    // RS-485 direction control, for the ports opened from now on and the open one: the
    // driver's own mode where it has one, else RTS around each write. A port that can do
    // neither runs without it and says so once (TakeDirectionNote).
    void SetRs485(bool on);
    bool rs485() const { return rs485_; }
    DirectionControl direction() const { return direction_; }
    // Why direction control is not running on the open port, once after it was asked for;
    // empty otherwise and after the first call.
    QString TakeDirectionNote();

    bool OpenPort(const QString& portPath, const QString& lineSettings);
    // New line settings for the open port; on failure it keeps its old ones and says why.
    bool ApplyLineSettings(const QString& lineSettings);
    // How long the reply to the last request takes on the wire at the port's baud rate; 0 on
    // a pseudo-terminal, which has no line. The read window is this much longer.
    int ReplyTimeMs() const;
    void ClosePort();
    bool SetPortTimeouts(std::uint16_t readInterval, std::uint16_t readMultiplier,
                         std::uint16_t readConstant, std::uint16_t writeMultiplier,
                         std::uint16_t writeConstant);

    bool isOpen() const override { return com.Open; }
    // The port open, or last asked to open, and its line settings.
    const QString& portPath() const { return com.PortPath; }
    const QString& lineSettings() const { return com.LineSettings; }
    // The bytes the last read took in.
    std::uint32_t bytesRead() const { return com.BytesRead; }
    // Why the last open failed, as QSerialPort classes it.
    QSerialPort::SerialPortError lastError() const { return port_.error(); }
    std::uint16_t WriteFrame(const std::uint8_t* bytes, std::uint16_t count,
                             ReplyBuffer& reply) override;
    bool ReadReply(ReplyBuffer& reply) override;
    // The next write first waits until the line has been quiet for a whole read window,
    // discarding whatever arrives meanwhile.
    void ExpectLateReply() override;

private:
    TCOM com;
    void Lose(const QString& what);
    QString Reason(const QString& what) const;
    bool OpenTcp(const QString& portPath);
    // The open port or connection.
    QIODevice& Stream();
    // Whether a failed wait or write means the line is gone rather than merely quiet.
    bool StreamBroken() const;
    // Drops everything received and not yet sent, as a port's purge does.
    bool Purge();
    bool DiscardLateReply();
    int WaitSlice(qint64 wantedMs) const;
    bool SetLine(const QString& lineSettings);
    void StartDirectionControl(const QString& portPath);
    void StopDirectionControl();
    bool SendRequest(qint64& written, int count);

    QSerialPort port_;
    std::unique_ptr<QIODevice> socket_; // a QTcpSocket while a "tcp:" port is open
    std::uint8_t transmit_[kReplySize] = {};
    int readIntervalMs_ = 30;
    int readTotalMs_ = 40;
    int writeTotalMs_ = 30;
    bool lateReplyExpected_ = false;
    bool pty_ = false;
    bool rs485_ = false;
    DirectionControl direction_ = DirectionControl::Off;
    QString directionNote_;
    qint32 baud_ = 0;
    int expectedReplyBytes_ = 0;
    QElapsedTimer quietSince_;
    QElapsedTimer sent_;  // since the last request's last byte went out
    int transmitted_ = 0; // bytes of the last request written
};
