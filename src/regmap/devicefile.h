#pragma once
// Device files: the binary register tree beside the executable.
#include "tree.h"
#include <QByteArray>
#include <QString>
#include <QStringList>

// Names (no directory) of every entry of the directory matching "*.dat", any case; hidden
// entries and directories included, in the order the directory gives them.
QStringList ListDeviceFiles(const QString& directory);

// Replaces the tree with the file's content. Throws AppError with the reader's message; the
// tree then keeps what was read before the failure (nothing if the file could not be opened,
// in which case the old tree stays).
// Both return the format version read.
int LoadDeviceFile(const QString& path, RegisterTree& tree);
// The bytes of a device file; throws AppError when it cannot be opened or read, or is not a
// regular file.
QByteArray ReadDeviceFileBytes(const QString& path);
int ReadDeviceFile(const QByteArray& bytes, RegisterTree& tree);

// The file as the writer rules lay it out: version 2, sub-chunks base, user data, caption.
QByteArray WriteDeviceFile(RegisterTree& tree);
// The seven tagged texts of one record.
QByteArray VTSaveNode(const RegisterNode& record);

constexpr int kMaxTreeDepth = 1000;
