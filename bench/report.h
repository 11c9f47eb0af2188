#pragma once
// What the benchmarks share: resident memory from /proc (Linux), and one summary row each
// for the table that bench/run collects.
#include <QFile>
#include <cstdio>

inline long ResidentKilobytes() {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// "row|benchmark|vardel|peer in the same run|ratio or verdict", one line on stdout.
inline void TableRow(const char* benchmark, const char* ours, const char* peer, const char* ratio) {
    std::printf("row|%s|%s|%s|%s\n", benchmark, ours, peer, ratio);
}
