#pragma once
// "Which one is it?": the device's identification as it answers read device identification
// (function 43/14, the extended stream first, then the regular, then the basic one, each
// with its "more follows" parts) and report server ID (function 17). Only reads.
#include "txn/engine.h"
#include "txn/identification.h"
#include <QStringList>
#include <functional>
#include <optional>

struct DeviceIdentity {
    QList<IdentificationObject> objects; // function 43/14, each object once, in the order read
    std::optional<ServerId> serverId;    // function 17
    QStringList notes;                   // how each function ended where it did not answer
    QString serialNumber;                // from the objects, or the registers of an identity file
    QString firmware, calibrationDate;   // from an identity file, where it names them

    bool answered() const { return !objects.isEmpty() || serverId.has_value(); }
    // "funkcja 43/14 i 17", "funkcja 17", or empty.
    QString answeredBy() const;
    // The text of an object read, or empty.
    QString Object(std::uint8_t id) const;
    // One short line for the log: "Producent Firma, Kod produktu TR100F, Wersja 1.02, nr
    // seryjny SN-0001 (funkcja 43/14 i 17)", or why nothing answered.
    QString Summary() const;
};

// Where a device keeps what identifies it beyond function 43/14: NAME.identity.json beside
// NAME.dat, {"serialNumber": "Numer seryjny", "firmware": "object:0x80", ...}, each value a
// register of the device file or an identification object.
struct IdentitySource {
    QString registerName;
    std::optional<std::uint8_t> object;
};
struct IdentityFile {
    std::optional<IdentitySource> serialNumber, firmware, calibrationDate;
};
// "…/TR100.identity.json" for "…/TR100.dat".
QString IdentityFilePath(const QString& devicePath);
// None when there is no such file; an unknown key, a value that is neither a register of the
// tree nor "object:N", or a file that is no JSON object throws AppError with the file, the
// key and the reason.
std::optional<IdentityFile> ReadIdentityFile(const QString& path, RegisterTree& tree);
// Fills the identity's fields the file names: objects from what function 43/14 gave,
// registers read through the engine (a register that does not answer stays empty).
void ReadIdentityRegisters(TransactionEngine& engine, RegisterTree& tree, const IdentityFile& file,
                           DeviceIdentity& identity);

// serialObject: the object holding the serial number, where a device keeps it in one
// (0x80 and up are the maker's own).
// Every request goes through the engine, shown and counted as any other.
DeviceIdentity Identify(TransactionEngine& engine, std::uint8_t slave,
                        std::optional<std::uint8_t> serialObject = std::nullopt);
