// OverlayText with any text, line and column; the result keeps what the rules promise.
#include "txn/loglines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int column = data[0] % 100;
    const std::size_t split = 2 + (size - 2) * data[1] / 256;
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data + 2), qsizetype(split - 2));
    const QString line =
        QString::fromLatin1(reinterpret_cast<const char*>(data + split), qsizetype(size - split));
    const QString result = OverlayText(text, line, column);
    // The text always stands at its column (0: in front), whatever the line was.
    const qsizetype at = column >= 1 ? column - 1 : 0;
    if (result.mid(at, text.size()) != text) __builtin_trap();
    TransactionLine(text, line, text);
    return 0;
}
