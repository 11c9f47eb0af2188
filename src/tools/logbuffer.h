#pragma once
// The text of the log window: Windows-1250 bytes in one buffer, lines separated by '\n', and
// the offset at which every line starts. A line costs its characters plus one offset, and
// appending one is amortised constant time however long the log has grown.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

// A place in the text: a line and a character position within it (both from 0).
struct LogPosition {
    qsizetype line = 0;
    qsizetype column = 0;
    friend auto operator<=>(const LogPosition&, const LogPosition&) = default;
};

class LogBuffer {
public:
    LogBuffer();

    // The text always has at least one line; an empty text has one empty line.
    qsizetype LineCount() const { return static_cast<qsizetype>(starts_.size()); }
    qsizetype LineLength(qsizetype line) const;
    QString Line(qsizetype line) const;
    // The raw bytes of a line; valid until the next change.
    const char* LineBytes(qsizetype line) const { return bytes_.data() + starts_[line]; }
    LogPosition End() const;
    bool IsEmpty() const { return bytes_.empty(); }
    // Every character, lines separated by '\n'.
    QString Text() const;
    QString Text(LogPosition from, LogPosition to) const;
    qsizetype CharacterCount() const { return static_cast<qsizetype>(bytes_.size()); }

    // Inserts text at a place (clamped into the text) and returns the place after it.
    // CR LF, a lone CR and Unicode line separators start a new line; characters outside the
    // code page become '?', as they would in the saved file.
    LogPosition Insert(LogPosition at, QStringView text);
    // Removes the characters between two places, in either order.
    void Erase(LogPosition from, LogPosition to);
    void Clear();

    LogPosition Clamp(LogPosition at) const;

private:
    qsizetype OffsetOf(LogPosition at) const;
    void InsertBytes(LogPosition at, const std::vector<char>& bytes);

    std::vector<char> bytes_;
    std::vector<std::uint64_t> starts_; // offset of each line's first character
};
