#pragma once
// Builders of the four kinds of request. Each returns a complete frame, CRC included, with
// RegisterCount and ValueType for the reply; the slave address comes from the slave text, of
// which the low 8 bits are used. A text that is not an integer throws AppError.
#include "link/modbus.h"
#include "regmap/record.h"
#include <QString>
#include <optional>

RequestFrame BuildReadRequest(const RegisterNode& node, const QString& slave);
RequestFrame BuildWriteSingleRequest(const RegisterNode& node, const QString& slave);

// A write of several registers, and the Value as the frame carries it (a TEXT in the code
// page, cut to its registers' bytes).
struct WriteRequest {
    RequestFrame frame;
    QString sentText;
};
// Refuses more than 13 registers.
WriteRequest BuildWriteMultipleRequest(const RegisterNode& node, const QString& slave);

// None for slave 0: a diagnostic request is never broadcast.
std::optional<RequestFrame> BuildDiagnosticRequest(const QString& slave, const QString& subFunction,
                                                   const QString& data);
