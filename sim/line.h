#pragma once
// The simulator's side of the line: a pseudo-terminal pair it owns, or a real port.
#include <QByteArray>
#include <QString>

struct Line {
    int fd = -1;       // what the simulator reads and writes; a TCP line's current connection
    int keepOpen = -1; // the pty's slave side, held so the pair survives the master closing
    int listen = -1;   // a TCP line's listening socket
    QString link;      // the symlink to the slave side, removed at exit
    QString name;      // what a master opens: the link, the port, or "tcp:127.0.0.1:PORT"
};

// Throws AppError when the line cannot be set up.
Line OpenPty(const QString& link);
Line OpenPort(const QString& device, int baud, const QString& parity);
// RTU frames over TCP, as a serial device server carries them: listens on 127.0.0.1 at the
// port, or at a free one for port 0, one connection at a time.
Line ListenTcp(int port);
// Takes the next connection of a TCP line into line.fd; false when none came within pollMs.
bool AcceptConnection(Line& line, int pollMs);
// Closes a TCP line's connection; the line listens for the next one.
void HangUp(Line& line);
void CloseLine(Line& line);
// The rate and parity ("9600,odd") the master set on a pseudo-terminal, as its slave side
// holds them; the port's own on a real port. A pseudo-terminal drops the parity-enable flag
// but keeps odd parity and the second stop bit that no parity comes with.
QString LineSeen(const Line& line);

// One request: complete by its own header, or ended by a 5 ms silence. Empty when nothing
// arrived within the poll period; then closed, when given, tells whether the other side went.
QByteArray ReadRequest(int fd, int pollMs, bool* closed = nullptr);
void WriteAll(int fd, const QByteArray& bytes);
