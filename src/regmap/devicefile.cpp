#include "devicefile.h"
#include "cp1250.h"
#include "error.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {

const char* const kReadError = "Stream read error";
const char* const kAnchorMissing = "Stream data corrupt. A node's anchor chunk is missing.";
const char* const kUnexpectedEnd =
    "Stream data corrupt. Unexpected data after node's end position.";

enum ChunkType : std::int32_t { kNodeChunk = 1, kBaseChunk = 2, kCaptionChunk = 3, kUserData = 4 };

// Bounds-checked little-endian reader over the file's bytes. Every size is compared with
// what remains, so no length field can make it read or allocate past the end.
class Cursor {
public:
    explicit Cursor(const QByteArray& bytes) : data_(bytes) {}

    qint64 pos() const { return pos_; }
    void seek(qint64 pos) { pos_ = pos; }
    qint64 remaining() const { return pos_ < data_.size() ? data_.size() - pos_ : 0; }
    bool atEnd() const { return remaining() == 0; }

    const char* take(qint64 count) {
        if (count < 0 || count > remaining()) throw AppError(kReadError);
        const char* p = data_.constData() + pos_;
        pos_ += count;
        return p;
    }
    std::uint8_t u8() { return static_cast<std::uint8_t>(*take(1)); }
    std::uint16_t u16() {
        const auto* p = reinterpret_cast<const unsigned char*>(take(2));
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    std::uint32_t u32() {
        const auto* p = reinterpret_cast<const unsigned char*>(take(4));
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

private:
    const QByteArray& data_;
    qint64 pos_ = 0;
};

QString ReadTaggedText(Cursor& in) {
    const std::uint8_t tag = in.u8();
    switch (tag) {
    case 0x06: {
        const int length = in.u8();
        return Cp1250ToString(in.take(length), length);
    }
    case 0x0C: {
        const qint64 length = std::max(in.i32(), 0);
        return Cp1250ToString(in.take(length), length);
    }
    case 0x12: {
        const qint64 length = std::max(in.i32(), 0);
        const char* p = in.take(2 * length);
        QString text(length, Qt::Uninitialized);
        for (qint64 i = 0; i < length; ++i)
            text[i] = QChar(static_cast<char16_t>(static_cast<unsigned char>(p[2 * i]) |
                                                  static_cast<unsigned char>(p[2 * i + 1]) << 8));
        return text;
    }
    case 0x14: {
        const qint64 length = std::max(in.i32(), 0);
        return QString::fromUtf8(in.take(length), length);
    }
    default:
        throw AppError("Invalid property value");
    }
}

void VTLoadNode(Cursor& in, RegisterNode& r) {
    for (QString* field : {&r.Name, &r.Note, &r.Address, &r.Type, &r.Count, &r.Access, &r.Value})
        *field = ReadTaggedText(in);
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
        const std::int32_t type = in_.i32();
        const std::int32_t size = in_.i32();
        if (type != kNodeChunk) throw AppError(kAnchorMissing);
        const qint64 end = in_.pos() + size;
        while (in_.pos() < end)
            readSubChunk(node, depth);
        if (in_.pos() != end) throw AppError(kUnexpectedEnd);
    }

private:
    void readSubChunk(TreeNode& node, int depth) {
        const std::int32_t type = in_.i32();
        const std::int32_t size = in_.i32();
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
        const std::uint32_t childCount = in_.u32();
        node.height = static_cast<std::uint16_t>(in_.u32());
        if (version_ >= 2) {
            node.states = in_.u16();
        } else {
            const std::uint16_t states = in_.u8();
            node.states = states | ((states & 0x80) ? 0x100 : 0x80);
        }
        node.states &= ~NodeState::Selected;
        node.alignment = in_.u8();
        node.checkState = in_.u8();
        node.checkKind = in_.u8();
        if (version_ >= 2) in_.take(4);
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

void WriteTaggedText(Writer& out, const QString& text) {
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
    if (utf8.size() < 2 * text.size()) {
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
    for (const auto& child : node.children())
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

int LoadDeviceFile(const QString& path, RegisterTree& tree) {
    const QString fullPath = QFileInfo(path).absoluteFilePath();
    QFile file(fullPath);
    QString reason;
    if (QFileInfo(fullPath).isDir())
        reason = QString::fromLocal8Bit(std::strerror(EISDIR));
    else if (!file.open(QIODevice::ReadOnly))
        reason = file.errorString();
    if (!reason.isEmpty())
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(fullPath, reason));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        tree.clear();
        throw AppError(kReadError);
    }
    return ReadDeviceFile(bytes, tree);
}

QByteArray VTSaveNode(const RegisterNode& r) {
    Writer out;
    for (const QString* field :
         {&r.Name, &r.Note, &r.Address, &r.Type, &r.Count, &r.Access, &r.Value})
        WriteTaggedText(out, *field);
    return out.bytes;
}

QByteArray WriteDeviceFile(RegisterTree& tree) {
    Writer out;
    for (std::uint16_t word : {0x2045, 0x0056, 0x0054, 0x0002, 0x0020, 0x2046})
        out.u16(word);
    out.u32(static_cast<std::uint32_t>(tree.topLevel().size()));
    for (const auto& node : tree.topLevel())
        WriteNode(out, *node);
    return out.bytes;
}
