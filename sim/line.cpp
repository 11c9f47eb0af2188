#include "line.h"
#include "link/modbus.h"
#include "regmap/error.h"
#include <QFile>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const QString& what) {
    throw AppError(QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno))));
}

void MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);
}

speed_t SpeedOf(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B19200;
    }
}

} // namespace

Line OpenPty(const QString& link) {
    Line line;
    line.fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (line.fd < 0 || grantpt(line.fd) != 0 || unlockpt(line.fd) != 0) Fail("posix_openpt");
    const char* slave = ptsname(line.fd);
    if (!slave) Fail("ptsname");
    line.keepOpen = open(slave, O_RDWR | O_NOCTTY);
    if (line.keepOpen < 0) Fail(slave);
    MakeRaw(line.keepOpen);
    MakeRaw(line.fd);
    const QByteArray path = QFile::encodeName(link);
    struct stat st {};
    if (lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(path.constData());
    if (symlink(slave, path.constData()) != 0) Fail(link);
    line.link = link;
    line.name = link;
    return line;
}

Line OpenPort(const QString& device, int baud, const QString& parity) {
    Line line;
    line.fd = open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (line.fd < 0) Fail(device);
    termios t{};
    tcgetattr(line.fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, SpeedOf(baud));
    t.c_cflag |= CLOCAL | CREAD;
    if (parity == QLatin1String("none")) {
        t.c_cflag |= CSTOPB;
    } else {
        t.c_cflag |= PARENB;
        if (parity == QLatin1String("odd")) t.c_cflag |= PARODD;
    }
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(line.fd, TCSANOW, &t) != 0) Fail(device);
    line.name = device;
    return line;
}

Line ListenTcp(int port) {
    Line line;
    line.listen = socket(AF_INET, SOCK_STREAM, 0);
    if (line.listen < 0) Fail(QStringLiteral("socket"));
    const int yes = 1;
    setsockopt(line.listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const QString where = QStringLiteral("127.0.0.1:%1").arg(port);
    if (bind(line.listen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail(where);
    if (listen(line.listen, 1) != 0) Fail(where);
    socklen_t length = sizeof address;
    getsockname(line.listen, reinterpret_cast<sockaddr*>(&address), &length);
    line.name = QStringLiteral("tcp:127.0.0.1:%1").arg(ntohs(address.sin_port));
    return line;
}

bool AcceptConnection(Line& line, int pollMs) {
    pollfd p{line.listen, POLLIN, 0};
    if (poll(&p, 1, pollMs) <= 0) return false;
    line.fd = accept(line.listen, nullptr, nullptr);
    if (line.fd < 0) return false;
    const int yes = 1;
    setsockopt(line.fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return true;
}

void HangUp(Line& line) {
    if (line.fd >= 0) close(line.fd);
    line.fd = -1;
}

QString LineSeen(const Line& line) {
    termios t{};
    if (tcgetattr(line.keepOpen >= 0 ? line.keepOpen : line.fd, &t) != 0) return {};
    static const std::pair<speed_t, int> kRates[] = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    int baud = 0;
    for (const auto& [speed, rate] : kRates)
        if (cfgetospeed(&t) == speed) baud = rate;
    const char* parity = (t.c_cflag & PARODD) ? "odd" : (t.c_cflag & CSTOPB) ? "none" : "even";
    return QStringLiteral("%1,%2").arg(baud).arg(QLatin1String(parity));
}

void CloseLine(Line& line) {
    if (!line.link.isEmpty()) unlink(QFile::encodeName(line.link).constData());
    if (line.keepOpen >= 0) close(line.keepOpen);
    if (line.fd >= 0) close(line.fd);
    if (line.listen >= 0) close(line.listen);
    line = Line();
}

QByteArray ReadRequest(int fd, int pollMs, bool* closed) {
    QByteArray request;
    pollfd p{fd, POLLIN, 0};
    int timeout = pollMs;
    while (request.size() < 256) {
        if (poll(&p, 1, timeout) <= 0) break;
        char chunk[256];
        const ssize_t n = read(fd, chunk, sizeof chunk - request.size());
        if (closed && (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))) {
            *closed = true;
            break;
        }
        if (n <= 0) {
            if (n < 0 && errno == EIO) usleep(50000); // no one has the other side open
            break;
        }
        request.append(chunk, n);
        const int needed = FrameLength(FrameKind::Request,
                                       reinterpret_cast<const std::uint8_t*>(request.constData()),
                                       static_cast<int>(request.size()));
        if (needed > 0 && request.size() >= needed) break;
        timeout = 5;
    }
    return request;
}

void WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR && errno != EAGAIN) return;
        if (n > 0) done += n;
    }
    tcdrain(fd);
}
