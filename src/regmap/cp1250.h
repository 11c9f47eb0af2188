#pragma once
// Windows-1250, the code page of the log and of the 8-bit texts in device files.
#include <QByteArray>
#include <QString>
#include <array>

QChar Cp1250ToChar(unsigned char byte);
QString Cp1250ToString(const char* bytes, qsizetype count);
// The UTF-16 unit of every byte; the five bytes the code page leaves undefined keep their
// own value.
extern const std::array<char16_t, 256> kCp1250ToUtf16;

// Decodes count bytes into count UTF-16 units at out.
inline void Cp1250ToUtf16(const char* bytes, qsizetype count, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = kCp1250ToUtf16[in[i]];
}
// Characters outside the code page become '?'.
char CharToCp1250(char16_t unit);
QByteArray StringToCp1250(const QString& text);
