#pragma once
// Windows-1250, the code page of the log and of the 8-bit texts in device files.
#include <QByteArray>
#include <QString>
#include <array>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

QChar Cp1250ToChar(unsigned char byte);
QString Cp1250ToString(const char* bytes, qsizetype count);
// The UTF-16 unit of every byte; the five bytes the code page leaves undefined keep their
// own value.
extern const std::array<char16_t, 256> kCp1250ToUtf16;

#ifdef __SSE2__
// Sixteen ASCII bytes as sixteen UTF-16 units.
inline void StoreWidened(__m128i ascii, char16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(ascii, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(ascii, zero));
}
#endif

// Decodes count bytes into count UTF-16 units at out. Runs of 16 ASCII bytes are widened
// sixteen at a time.
inline void Cp1250ToUtf16(const char* bytes, qsizetype count, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    qsizetype i = 0;
#ifdef __SSE2__
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(v) != 0) {
            for (qsizetype k = i; k < i + 16; ++k)
                out[k] = kCp1250ToUtf16[in[k]];
            continue;
        }
        StoreWidened(v, out + i);
    }
#endif
    for (; i < count; ++i)
        out[i] = kCp1250ToUtf16[in[i]];
}

// A text of up to 16 bytes, all ASCII, widened with one 16-byte load from bytes and one
// 16-unit store to out; both must have 16 valid places. Units past count are left undefined.
// False, with nothing written, when a byte is not ASCII or SSE2 is not there.
inline bool WidenShortAscii(const char* bytes, qsizetype count, char16_t* out) {
#ifdef __SSE2__
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    if (_mm_movemask_epi8(v) & ((1u << count) - 1)) return false;
    StoreWidened(v, out);
    return true;
#else
    (void)bytes, (void)count, (void)out;
    return false;
#endif
}
// Characters outside the code page become '?'.
char CharToCp1250(char16_t unit);
QByteArray StringToCp1250(const QString& text);
