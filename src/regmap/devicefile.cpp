#include "devicefile.h"
#include "cp1250.h"
#include "error.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

const char* const kReadError = "Stream read error";
const char* const kAnchorMissing = "Stream data corrupt. A node's anchor chunk is missing.";
const char* const kUnexpectedEnd =
    "Stream data corrupt. Unexpected data after node's end position.";

enum ChunkType : std::int32_t { kNodeChunk = 1, kBaseChunk = 2, kCaptionChunk = 3, kUserData = 4 };

// Bounds-checked little-endian reader over the file's bytes. Every size is compared with
// what remains, so no length field can make it read or allocate past the end. The first
// failure throws, and the read ends there.
class Cursor {
public:
    explicit Cursor(const QByteArray& bytes)
        : begin_(bytes.constData()), p_(begin_), end_(begin_ + bytes.size()) {}

    // The position never leaves the file: begin_ <= p_ <= end_.
    qint64 pos() const { return p_ - begin_; }
    void seek(qint64 pos) {
        if (pos < 0 || pos > end_ - begin_) throw AppError(kReadError);
        p_ = begin_ + pos;
    }
    qint64 remaining() const { return end_ - p_; }
    bool atEnd() const { return p_ == end_; }

    const char* take(qint64 count) {
        // One unsigned comparison refuses a negative count as well as one past the end.
        if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(end_ - p_))
            throw AppError(kReadError);
        const char* p = p_;
        p_ += count;
        return p;
    }
    std::uint8_t u8() { return Byte(take(1), 0); }
    std::uint16_t u16() { return Le16(take(2)); }
    std::uint32_t u32() { return Le32(take(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    static std::uint8_t Byte(const char* p, int i) { return static_cast<std::uint8_t>(p[i]); }
    static std::uint16_t Le16(const char* p) {
        return static_cast<std::uint16_t>(Byte(p, 0) | Byte(p, 1) << 8);
    }
    static std::uint32_t Le32(const char* p) {
        return std::uint32_t(Le16(p)) | std::uint32_t(Le16(p + 2)) << 16;
    }

private:
    const char* begin_;
    const char* p_;
    const char* end_;
};

// One tagged text: 0x06 a byte's length of Windows-1250; 0x0C a 32-bit length of
// Windows-1250, 0x12 of UTF-16 units (little-endian), 0x14 of UTF-8 bytes. A negative
// 32-bit length reads as empty.
QString ReadTaggedText(Cursor& in) {
    const std::uint8_t tag = in.u8();
    if (tag == 0x06) {
        const int length = in.u8();
        return Cp1250ToString(in.take(length), length);
    }
    if (tag != 0x0C && tag != 0x12 && tag != 0x14) throw AppError("Invalid property value");
    const qint64 length = std::max(in.i32(), 0);
    if (tag == 0x12) {
        const char* units = in.take(2 * length);
        QString text(length, Qt::Uninitialized);
        for (qint64 i = 0; i < length; ++i)
            text[i] = QChar(Cursor::Le16(units + 2 * i));
        return text;
    }
    const char* bytes = in.take(length);
    return tag == 0x0C ? Cp1250ToString(bytes, length) : QString::fromUtf8(bytes, length);
}

// The seven texts of a record. A read that fails keeps the texts decoded before it, the
// others empty, as a field-by-field reader would.
void VTLoadNode(Cursor& in, RegisterNode& record) {
    RegisterNode read;
    try {
        for (QString RegisterNode::*text : kRecordTexts)
            read.*text = ReadTaggedText(in);
    } catch (const AppError&) {
        record = std::move(read);
        throw;
    }
    record = std::move(read);
}

class TreeReader {
public:
    TreeReader(const QByteArray& bytes, int version) : in_(bytes), version_(version) {}
    Cursor& cursor() { return in_; }

    void readNode(TreeNode& node, int depth) {
        if (depth > kMaxTreeDepth)
            throw AppError(QStringLiteral("Stream data corrupt. The tree is nested deeper than "
                                          "%1 levels.")
                               .arg(kMaxTreeDepth));
        const char* header = in_.take(8);
        if (static_cast<std::int32_t>(Cursor::Le32(header)) != kNodeChunk)
            throw AppError(kAnchorMissing);
        const auto size = static_cast<std::int32_t>(Cursor::Le32(header + 4));
        const qint64 end = in_.pos() + size;
        while (in_.pos() < end)
            readSubChunk(node, depth);
        if (in_.pos() != end) throw AppError(kUnexpectedEnd);
    }

private:
    void readSubChunk(TreeNode& node, int depth) {
        const char* header = in_.take(8);
        const auto type = static_cast<std::int32_t>(Cursor::Le32(header));
        const auto size = static_cast<std::int32_t>(Cursor::Le32(header + 4));
        switch (type) {
        case kBaseChunk:
            readBase(node, depth);
            break;
        case kUserData:
            if (size > 0) readUserData(node, size);
            break;
        default: // the caption is offered to the tree, which always shows Name instead
            in_.take(size);
            break;
        }
    }

    void readBase(TreeNode& node, int depth) {
        // Version 2: child count, height, 16-bit states, alignment, check state, check kind,
        // 4 bytes unused. Earlier versions: the states in 8 bits and nothing unused.
        const bool v2 = version_ >= 2;
        const char* body = in_.take(v2 ? 17 : 12);
        const std::uint32_t childCount = Cursor::Le32(body);
        node.height = static_cast<std::uint16_t>(Cursor::Le32(body + 4));
        if (v2) {
            node.states = Cursor::Le16(body + 8);
        } else {
            const std::uint16_t states = Cursor::Byte(body, 8);
            node.states = states | ((states & 0x80) ? 0x100 : 0x80);
        }
        node.states &= ~NodeState::Selected;
        const char* tail = body + (v2 ? 10 : 9);
        node.alignment = Cursor::Byte(tail, 0);
        node.checkState = Cursor::Byte(tail, 1);
        node.checkKind = Cursor::Byte(tail, 2);
        // Each child needs at least its chunk header, so a count the file cannot hold ends
        // in a read error at the first missing child.
        for (std::uint32_t i = 0; i < childCount; ++i)
            readNode(*node.appendChild(), depth + 1);
    }

    void readUserData(TreeNode& node, std::int32_t size) {
        const qint64 start = in_.pos();
        VTLoadNode(in_, node.record);
        if (in_.pos() == start + size) return;
        if (start + size > in_.pos() + in_.remaining()) throw AppError(kReadError);
        in_.seek(start + size);
    }

    Cursor in_;
    int version_;
};

void CheckHeader(Cursor& in) {
    if (in.remaining() < 12)
        throw AppError("Unable to load tree structure, not enough data available.");
    std::uint16_t word[6];
    for (auto& w : word)
        w = in.u16();
    if (word[0] != 0x2045 || word[1] != 0x0056 || word[2] != 0x0054 || word[5] != 0x2046)
        throw AppError("Unable to load tree structure, the format is wrong.");
    if (word[3] > 2) throw AppError("Unable to load tree structure, the version is unknown.");
}

// Writes little-endian values and patches chunk sizes afterwards.
class Writer {
public:
    QByteArray bytes;
    void u8(std::uint8_t v) { bytes.append(static_cast<char>(v)); }
    void u16(std::uint16_t v) {
        u8(v & 0xFF);
        u8(v >> 8);
    }
    void u32(std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    qsizetype beginChunk(std::int32_t type) {
        u32(static_cast<std::uint32_t>(type));
        u32(0);
        return bytes.size();
    }
    void endChunk(qsizetype bodyStart) {
        const auto size = static_cast<std::uint32_t>(bytes.size() - bodyStart);
        for (int i = 0; i < 4; ++i)
            bytes[bodyStart - 4 + i] = static_cast<char>(size >> 8 * i);
    }
};

void WriteTaggedText(Writer& out, QStringView text) {
    if (text.isEmpty()) {
        out.u8(0x12);
        out.u32(0);
        return;
    }
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii) {
        if (text.size() <= 255) {
            out.u8(0x06);
            out.u8(static_cast<std::uint8_t>(text.size()));
        } else {
            out.u8(0x0C);
            out.u32(static_cast<std::uint32_t>(text.size()));
        }
        out.bytes.append(text.toLatin1());
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    // UTF-8 only when it holds the text exactly: a lone surrogate needs the wide form.
    if (utf8.size() < 2 * text.size() && text.isValidUtf16()) {
        out.u8(0x14);
        out.u32(static_cast<std::uint32_t>(utf8.size()));
        out.bytes.append(utf8);
        return;
    }
    out.u8(0x12);
    out.u32(static_cast<std::uint32_t>(text.size()));
    for (QChar c : text)
        out.u16(c.unicode());
}

void WriteNode(Writer& out, TreeNode& node) {
    node.states |= NodeState::Initialized;
    const qsizetype nodeStart = out.beginChunk(kNodeChunk);

    const qsizetype baseStart = out.beginChunk(kBaseChunk);
    out.u32(static_cast<std::uint32_t>(node.children().size()));
    out.u32(node.height);
    out.u16(node.states & ~NodeState::Transient);
    out.u8(node.alignment);
    out.u8(node.checkState);
    out.u8(node.checkKind);
    out.u32(0);
    for (TreeNode* child : node.children())
        WriteNode(out, *child);
    out.endChunk(baseStart);

    const qsizetype userStart = out.beginChunk(kUserData);
    out.bytes.append(VTSaveNode(node.record));
    out.endChunk(userStart);

    if (!node.record.Name.isEmpty()) {
        const qsizetype captionStart = out.beginChunk(kCaptionChunk);
        for (QChar c : node.record.Name)
            out.u16(c.unicode());
        out.endChunk(captionStart);
    }
    out.endChunk(nodeStart);
}

} // namespace

QStringList ListDeviceFiles(const QString& directory) {
    return QDir(directory).entryList(
        {QStringLiteral("*.dat")},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
}

int ReadDeviceFile(const QByteArray& bytes, RegisterTree& tree) {
    tree.clear();
    Cursor header(bytes);
    CheckHeader(header);
    const int version = bytes[6];
    TreeReader reader(bytes, version);
    Cursor& in = reader.cursor();
    in.seek(12);
    std::uint32_t count = version == 2 ? in.u32() : 2147483647u;
    while (!in.atEnd() && count > 0) {
        --count;
        reader.readNode(*tree.appendTopLevel(), 0);
    }
    return version;
}

QByteArray ReadDeviceFileBytes(const QString& path) {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QFile file(fullPath);
    QString reason;
    const QFileInfo info(fullPath);
    // Only a regular file is read: a pipe would block the window for ever, a device such as
    // /dev/zero never ends.
    if (info.isDir())
        reason = QString::fromLocal8Bit(std::strerror(EISDIR));
    else if (info.exists() && !info.isFile())
        reason = QStringLiteral("nie jest zwykłym plikiem");
    else if (!file.open(QIODevice::ReadOnly))
        reason = file.errorString();
    if (!reason.isEmpty())
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(fullPath, reason));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) throw AppError(kReadError);
    return bytes;
}

int LoadDeviceFile(const QString& path, RegisterTree& tree) {
    QByteArray bytes;
    try {
        bytes = ReadDeviceFileBytes(path);
    } catch (const AppError& error) {
        if (error.message() == kReadError) tree.clear();
        throw;
    }
    return ReadDeviceFile(bytes, tree);
}

QByteArray VTSaveNode(const RegisterNode& r) {
    Writer out;
    for (QString RegisterNode::*text : kRecordTexts)
        WriteTaggedText(out, r.*text);
    return out.bytes;
}

QByteArray WriteDeviceFile(RegisterTree& tree) {
    Writer out;
    for (std::uint16_t word : {0x2045, 0x0056, 0x0054, 0x0002, 0x0020, 0x2046})
        out.u16(word);
    out.u32(static_cast<std::uint32_t>(tree.topLevel().size()));
    for (TreeNode* node : tree.topLevel())
        WriteNode(out, *node);
    return out.bytes;
}
