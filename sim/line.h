#pragma once
// The simulator's side of the line: a pseudo-terminal pair it owns, or a real port.
#include <QByteArray>
#include <QString>

struct Line {
    int fd = -1;       // what the simulator reads and writes
    int keepOpen = -1; // the pty's slave side, held so the pair survives the master closing
    QString link;      // the symlink to the slave side, removed at exit
};

// Throws AppError when the line cannot be set up.
Line OpenPty(const QString& link);
Line OpenPort(const QString& device, int baud, const QString& parity);
void CloseLine(Line& line);

// One request: complete by its own header, or ended by a 5 ms silence. Empty when nothing
// arrived within the poll period.
QByteArray ReadRequest(int fd, int pollMs);
void WriteAll(int fd, const QByteArray& bytes);
