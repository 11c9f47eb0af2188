#pragma once
// A device's settings at one moment: every RW and RP register of its tree with the value
// text and the raw words it answered, and whose device it was. Snapshots are compared with
// each other or with the device now, and a comparison's differing registers written back.
#include "txn/engine.h"
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>

struct SnapshotRegister {
    QString name, address, type, access;
    bool answered = false; // false: the read failed, and value says how
    QString value;         // the value text as the window shows it
    QString words;         // the raw words as read, "$1234 $5678"
};

struct Snapshot {
    QDateTime time;
    QString deviceType;   // the device file's name
    QString deviceSha256; // of its bytes
    QString slave, port;
    QString identity;     // the identification's one line, when it was read
    QString serialNumber; // empty where the device gives none
    QList<SnapshotRegister> registers;
};

// The file's JSON, and the snapshot from a file's bytes. Reading throws AppError naming the
// file, the key and the reason.
QByteArray SnapshotJson(const Snapshot& snapshot);
Snapshot SnapshotFromJson(const QByteArray& json, const QString& fileName);
// "zrzuty/TR100F_adres247_2026-12-09_17-20-05.json" under the data folder.
QString SnapshotFileName(const Snapshot& snapshot);
// The snapshot in a file; its errors name the file as label says it. Throws AppError.
Snapshot ReadSnapshotFile(const QString& path, const QString& label);

struct RegisterChange {
    QString name, address;
    QString before, after; // value texts; empty where a snapshot lacks the register
    bool changed = false;
    bool writable = false;   // RW or RP in the later one
    bool restorable = false; // changed, writable, and the earlier one has its value
};
struct Comparison {
    QList<RegisterChange> rows; // every register of either, in the earlier one's order
    int changed = 0, same = 0, unanswered = 0;
};
// A register that did not answer in either is counted as unanswered, not as changed.
Comparison Compare(const Snapshot& earlier, const Snapshot& later);
// The comparison as CSV: name;address;before;after;changed, with a header line.
QByteArray ComparisonCsv(const Comparison& comparison);

// Every RW and RP register of the tree, in its order: what a snapshot holds.
QList<TreeNode*> SettingRegisters(RegisterTree& tree);
// Reads each register through the engine and takes what it answered. A stop ends the walk:
// the registers left are in it as not read, never left out.
struct SnapshotProgress {
    std::function<bool()> stopped;
    std::function<void(int done, int total)> advanced;
};
QList<SnapshotRegister> ReadSettings(TransactionEngine& engine, const QList<TreeNode*>& registers,
                                     const SnapshotProgress& progress = {});

// Writes each change's earlier value through the engine and reads it back.
struct RestoreResult {
    QString name, wanted, now;
    enum class End { Kept, Other, Failed } end = End::Failed; // as wanted, another value, no reply
};
QList<RestoreResult> Restore(TransactionEngine& engine, RegisterTree& tree,
                             const QList<RegisterChange>& changes);
// "Tryb: $03 → $05, odczyt $05", "Tryb: urządzenie zachowało $03", ...
QString RestoreText(const RestoreResult& result);

// Why a restore from the snapshot onto the device now must not go ahead: another serial
// number where both are known, else another device type or device file. Empty when it may.
QString OtherDevice(const Snapshot& snapshot, const Snapshot& now);
