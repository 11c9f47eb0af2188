#pragma once
// Windows-1250, the code page of the log and of the 8-bit texts in device files.
#include <QByteArray>
#include <QString>
#include <array>

QChar Cp1250ToChar(unsigned char byte);
QString Cp1250ToString(const char* bytes, qsizetype count);
// Bytes 0x80-0xFF; the five bytes the code page leaves undefined keep their own value.
extern const std::array<char16_t, 128> kCp1250HighHalf;

// Decodes count bytes into count UTF-16 units at out.
inline void Cp1250ToUtf16(const char* bytes, qsizetype count, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    for (qsizetype i = 0; i < count; ++i)
        out[i] = in[i] < 0x80 ? char16_t(in[i]) : kCp1250HighHalf[in[i] - 0x80];
}
// Characters outside the code page become '?'.
QByteArray StringToCp1250(const QString& text);
