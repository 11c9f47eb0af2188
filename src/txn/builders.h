#pragma once
// Builders of the four kinds of request. Each fills state.frame completely, CRC included;
// the slave address comes from the slave text, of which the low 8 bits are used.
#include "state.h"

void BuildReadRequest(TxnState& state, const RegisterNode& node, const QString& slave);
void BuildWriteSingleRequest(TxnState& state, const RegisterNode& node, const QString& slave);
// Expects frame.ValueType set to the node's TypeCode. Refuses more than 13 registers before
// touching the frame.
void BuildWriteMultipleRequest(TxnState& state, const RegisterNode& node, const QString& slave);
// False, with nothing built, for slave 0: a diagnostic request is never broadcast. True when
// the frame is ready to send.
bool BuildDiagnosticRequest(TxnState& state, const QString& slave, const QString& subFunction,
                            const QString& data);
