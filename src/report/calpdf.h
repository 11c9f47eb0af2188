#pragma once
// A calibration record as a PDF on A4 paper. Needs a QGuiApplication (fonts).
#include "tools/calrecord.h"

// Throws AppError 'Cannot create file "%s". %s' when the file cannot be written.
void SaveRecordPdf(const CalibrationRecord& record, const QString& path);
