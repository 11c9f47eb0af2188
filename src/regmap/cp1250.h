#pragma once
// Windows-1250, the code page of the log and of the 8-bit texts in device files.
#include <QByteArray>
#include <QString>

// The five bytes the code page leaves undefined keep their own value.
QChar Cp1250ToChar(unsigned char byte);
QString Cp1250ToString(const char* bytes, qsizetype count);

// Characters outside the code page become '?'.
char CharToCp1250(char16_t unit);
QByteArray StringToCp1250(const QString& text);
