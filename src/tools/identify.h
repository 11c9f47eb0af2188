#pragma once
// "Which one is it?": the device's identification as it answers read device identification
// (function 43/14, the extended stream first, then the regular, then the basic one, each
// with its "more follows" parts) and report server ID (function 17). Only reads.
#include "rawrequest.h"
#include "txn/identification.h"
#include <QStringList>
#include <functional>
#include <optional>

struct DeviceIdentity {
    QList<IdentificationObject> objects; // function 43/14, each object once, in the order read
    std::optional<ServerId> serverId;    // function 17
    QStringList notes;                   // how each function ended where it did not answer
    QString serialNumber;                // from the objects, or the registers of an identity file

    bool answered() const { return !objects.isEmpty() || serverId.has_value(); }
    // "funkcja 43/14 i 17", "funkcja 17", or empty.
    QString answeredBy() const;
    // The text of an object read, or empty.
    QString Object(std::uint8_t id) const;
    // One short line for the log: "Producent Firma, Kod produktu TR100F, Wersja 1.02, nr
    // seryjny SN-0001 (funkcja 43/14 i 17)", or why nothing answered.
    QString Summary() const;
};

// Called with each request and how it ended, for the traffic shown and logged.
using RawExchanged = std::function<void(const RequestFrame&, const RawReply&)>;
// serialObject: the object holding the serial number, where a device keeps it in one
// (0x80 and up are the maker's own).
DeviceIdentity Identify(ModbusLink& link, std::uint8_t slave,
                        std::optional<std::uint8_t> serialObject = std::nullopt,
                        const RawExchanged& exchanged = {});
