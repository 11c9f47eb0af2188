#include "logbuffer.h"
#include "regmap/cp1250.h"
#include <algorithm>

namespace {

bool IsLineBreak(char16_t unit) {
    return unit == u'\n' || unit == u'\r' || unit == 0x2028 || unit == 0x2029;
}

// The text as code-page bytes, with every kind of line break made a single '\n'.
std::vector<char> Encode(QStringView text) {
    std::vector<char> bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (IsLineBreak(unit)) {
            bytes.push_back('\n');
            if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (QChar::isHighSurrogate(unit)) {
            bytes.push_back('?'); // one character outside the code page, not two
            if (i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
        } else {
            bytes.push_back(CharToCp1250(unit));
        }
    }
    return bytes;
}

} // namespace

LogBuffer::LogBuffer() : starts_{0} {}

qsizetype LogBuffer::LineLength(qsizetype line) const {
    const auto start = starts_[static_cast<std::size_t>(line)];
    const auto next = line + 1 < LineCount() ? starts_[static_cast<std::size_t>(line + 1)] - 1
                                             : static_cast<std::uint64_t>(bytes_.size());
    return static_cast<qsizetype>(next - start);
}

QString LogBuffer::Line(qsizetype line) const {
    return Cp1250ToString(LineBytes(line), LineLength(line));
}

LogPosition LogBuffer::End() const {
    return {LineCount() - 1, LineLength(LineCount() - 1)};
}

QString LogBuffer::Text() const {
    return Cp1250ToString(bytes_.data(), CharacterCount());
}

QString LogBuffer::Text(LogPosition from, LogPosition to) const {
    if (to < from) std::swap(from, to);
    const qsizetype begin = OffsetOf(Clamp(from));
    return Cp1250ToString(bytes_.data() + begin, OffsetOf(Clamp(to)) - begin);
}

LogPosition LogBuffer::Clamp(LogPosition at) const {
    at.line = std::clamp<qsizetype>(at.line, 0, LineCount() - 1);
    at.column = std::clamp<qsizetype>(at.column, 0, LineLength(at.line));
    return at;
}

qsizetype LogBuffer::OffsetOf(LogPosition at) const {
    return static_cast<qsizetype>(starts_[static_cast<std::size_t>(at.line)]) + at.column;
}

LogPosition LogBuffer::Insert(LogPosition at, QStringView text) {
    at = Clamp(at);
    const std::vector<char> bytes = Encode(text);
    InsertBytes(at, bytes);
    const auto lastBreak = std::find(bytes.rbegin(), bytes.rend(), '\n');
    if (lastBreak == bytes.rend())
        return {at.line, at.column + static_cast<qsizetype>(bytes.size())};
    const auto breaks = std::count(bytes.begin(), bytes.end(), '\n');
    return {at.line + static_cast<qsizetype>(breaks), lastBreak - bytes.rbegin()};
}

void LogBuffer::InsertBytes(LogPosition at, const std::vector<char>& bytes) {
    const qsizetype offset = OffsetOf(at);
    bytes_.insert(bytes_.begin() + offset, bytes.begin(), bytes.end());
    const auto after = starts_.begin() + at.line + 1;
    for (auto start = after; start != starts_.end(); ++start)
        *start += bytes.size();
    std::vector<std::uint64_t> newStarts;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n') newStarts.push_back(static_cast<std::uint64_t>(offset) + i + 1);
    starts_.insert(after, newStarts.begin(), newStarts.end());
}

void LogBuffer::Erase(LogPosition from, LogPosition to) {
    from = Clamp(from);
    to = Clamp(to);
    if (to < from) std::swap(from, to);
    const qsizetype begin = OffsetOf(from), end = OffsetOf(to);
    if (begin == end) return;
    bytes_.erase(bytes_.begin() + begin, bytes_.begin() + end);
    starts_.erase(starts_.begin() + from.line + 1, starts_.begin() + to.line + 1);
    for (auto start = starts_.begin() + from.line + 1; start != starts_.end(); ++start)
        *start -= static_cast<std::uint64_t>(end - begin);
}

void LogBuffer::Clear() {
    std::vector<char>().swap(bytes_);
    starts_.assign(1, 0);
    starts_.shrink_to_fit();
}
