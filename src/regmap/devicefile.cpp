#include "devicefile.h"
#include "cp1250.h"
#include "error.h"
#include "treestorage.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace {

const char* const kReadError = "Stream read error";
const char* const kAnchorMissing = "Stream data corrupt. A node's anchor chunk is missing.";
const char* const kUnexpectedEnd =
    "Stream data corrupt. Unexpected data after node's end position.";

constexpr qint64 kInPlaceCharacters = 4096;
// A short 8-bit text is widened with one 16-byte load and a 16-character store.
constexpr qint64 kWideStore = 16;

enum ChunkType : std::int32_t { kNodeChunk = 1, kBaseChunk = 2, kCaptionChunk = 3, kUserData = 4 };

// Bounds-checked little-endian reader over the file's bytes. Every size is compared with
// what remains, so no length field can make it read or allocate past the end.
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
    const char* here() const { return p_; }
    const char* end() const { return end_; }
    // Moves to p, a place between here() and end() that the caller has checked.
    void moveTo(const char* p) { p_ = p; }
    bool atEnd() const { return p_ == end_; }

    const char* take(qint64 count) {
        // One unsigned comparison refuses a negative count as well as one past the end.
        if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(end_ - p_))
            throw AppError(kReadError);
        const char* p = p_;
        p_ += count;
        return p;
    }
    // Several fixed-size fields at once: one bounds check for all of them.
    const unsigned char* fields(qint64 count) {
        return reinterpret_cast<const unsigned char*>(take(count));
    }
    std::uint8_t u8() { return *fields(1); }
    std::uint16_t u16() { return Le16(fields(2)); }
    std::uint32_t u32() { return Le32(fields(4)); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    static std::uint16_t Le16(const unsigned char* p) {
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }
    static std::uint32_t Le32(const unsigned char* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }

private:
    const char* begin_;
    const char* p_;
    const char* end_;
};

// Where a record's characters are decoded to: first a block of the tree's arena reserved
// for them, and if they outgrow it, the reader's scratch buffer.
class TextSink {
public:
    TextSink(char16_t* reserved, std::size_t capacity, std::vector<char16_t>& scratch)
        : base_(reserved), capacity_(capacity), scratch_(scratch) {}

    char16_t* Room(std::size_t more) {
        if (used_ + more > capacity_) Grow(more);
        return base_ + used_;
    }
    void Advance(std::size_t count) { used_ += count; }
    std::size_t used() const { return used_; }
    std::size_t capacity() const { return capacity_; }
    char16_t* base() { return base_; }
    const char16_t* chars() const { return base_; }
    bool inScratch() const { return base_ == scratch_.data(); }

private:
    void Grow(std::size_t more) {
        if (used_ + more > RegisterNode::kMaxCharacters) throw AppError(kReadError);
        const bool moving = !inScratch();
        if (scratch_.size() < used_ + more)
            scratch_.resize(std::max(2 * scratch_.size(), used_ + more));
        if (moving) std::copy(base_, base_ + used_, scratch_.data());
        base_ = scratch_.data();
        capacity_ = scratch_.size();
    }

    char16_t* base_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    std::vector<char16_t>& scratch_;
};

void AppendLongTaggedText(Cursor& in, std::uint8_t tag, qint64 length, TextSink& out);

// Reads one tagged text and decodes it into out. Short 8-bit texts and empty ones, most of
// a file, take the inline path.
inline void AppendTaggedText(Cursor& in, TextSink& out) {
    const std::uint8_t tag = in.u8();
    if (tag == 0x06) {
        const int length = in.u8();
        const char* bytes = in.take(length);
        Cp1250ToUtf16(bytes, length, out.Room(length));
        out.Advance(length);
        return;
    }
    if (tag != 0x0C && tag != 0x12 && tag != 0x14) throw AppError("Invalid property value");
    const qint64 length = std::max(in.i32(), 0);
    if (length > 0) AppendLongTaggedText(in, tag, length, out);
}

// The texts of a record that are empty or short ASCII texts of tag 0x06, most of a file, read from
// the front of the record until one is not. The state is held in locals, as the 16-byte stores
// could alias the cursor and the sink. For each text one check covers the tag, the length and
// the 16-byte load, and one the 16-character store. Returns the number of texts read.
int ReadShortAsciiTexts(Cursor& in, TextSink& out, std::uint32_t* ends) {
    const char* p = in.here();
    const char* const end = in.end();
    char16_t* const chars = out.base();
    const std::size_t capacity = out.capacity(), first = out.used();
    std::size_t used = first;
    int field = 0;
    for (; field < RegisterNode::kFields; ++field) {
        if (end - p < 2 + kWideStore) break;
        const auto tag = static_cast<unsigned char>(p[0]);
        if (tag == 0x06) {
            const auto length = static_cast<unsigned char>(p[1]);
            if (length > kWideStore || used + kWideStore > capacity ||
                !WidenShortAscii(p + 2, length, chars + used))
                break;
            p += 2 + length;
            used += length;
        } else if ((tag == 0x12 || tag == 0x0C || tag == 0x14) &&
                   static_cast<std::int32_t>(
                       Cursor::Le32(reinterpret_cast<const unsigned char*>(p + 1))) <= 0) {
            p += 5; // an empty text; a negative length reads as empty too
        } else {
            break;
        }
        ends[field] = static_cast<std::uint32_t>(used);
    }
    in.moveTo(p);
    out.Advance(used - first);
    return field;
}

// Tags 0x0C, 0x12 and 0x14 with a length above 0.
void AppendLongTaggedText(Cursor& in, std::uint8_t tag, qint64 length, TextSink& out) {
    if (tag == 0x12) {
        const auto* p = reinterpret_cast<const unsigned char*>(in.take(2 * length));
        char16_t* chars = out.Room(length);
        for (qint64 i = 0; i < length; ++i)
            chars[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
        out.Advance(length);
        return;
    }
    const char* bytes = in.take(length);
    if (tag == 0x0C) {
        Cp1250ToUtf16(bytes, length, out.Room(length));
        out.Advance(length);
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    auto* begin = reinterpret_cast<QChar*>(out.Room(utf8.requiredSpace(length)));
    out.Advance(utf8.appendToBuffer(begin, QByteArrayView(bytes, length)) - begin);
}

} // namespace

// Builds a tree in place for the reader: nodes from the tree's pool, record blocks and child
// arrays from its arena.
class TreeBuilder {
public:
    explicit TreeBuilder(RegisterTree& tree) : tree_(tree) {}
    TreeNode* root() { return &tree_.root_; }

    TreeNode* AppendChild(TreeNode& parent) {
        TreeNode* child = tree_.storage_->NewNode();
        parent.Push(child);
        return child;
    }
    // Room for the children a file announces, as far as the bytes left can hold them.
    void ReserveChildren(TreeNode& parent, std::uint32_t count) {
        if (count == 0 || parent.count_ > 0) return;
        parent.children_ = static_cast<TreeNode**>(
            tree_.storage_->Allocate(count * sizeof(TreeNode*), alignof(TreeNode*)));
        parent.capacity_ = count;
        parent.ownsChildren_ = false;
    }
    RegisterNode::Block* NewBlock(std::size_t characters) {
        return static_cast<RegisterNode::Block*>(tree_.storage_->Allocate(
            RegisterNode::BlockBytes(characters), alignof(RegisterNode::Block)));
    }
    // Keeps room for only `characters` of a block just taken for `reserved` characters; when
    // it is the arena's newest, the rest is free for the next allocation.
    void ShrinkBlock(RegisterNode::Block* block, std::size_t reserved, std::size_t characters) {
        const std::size_t keep = characters ? RegisterNode::BlockBytes(characters) : 0;
        tree_.storage_->GiveBack(reinterpret_cast<char*>(block), RegisterNode::BlockBytes(reserved),
                                 keep);
    }

private:
    RegisterTree& tree_;
};

namespace {

// The seven texts are decoded straight into a block of the tree's arena with room for as many
// characters as the record's chunk has bytes (no text has more characters than bytes); what
// is left over goes back to the arena. A record that runs past its chunk continues in the reader's
// scratch buffer and is copied to a block of its own size. A read that fails keeps the texts
// decoded before it, as a field-by-field reader would.
void VTLoadNode(Cursor& in, TreeBuilder& builder, RegisterNode& r, std::vector<char16_t>& scratch,
                std::size_t chunkSize) {
    // Reserved with room for a short text's 16-character store after the last text.
    const std::size_t reservedChars = chunkSize + kWideStore;
    RegisterNode::Block* reserved = builder.NewBlock(reservedChars);
    TextSink out(reserved->chars(), reservedChars, scratch);
    // The ends go straight into the block: gathered on the stack, the copy into the block
    // would wait on seven separate stores.
    std::uint32_t* const ends = reserved->end;
    int field = ReadShortAsciiTexts(in, out, ends);
    std::optional<AppError> failure;
    try {
        for (; field < RegisterNode::kFields; ++field) {
            AppendTaggedText(in, out);
            ends[field] = static_cast<std::uint32_t>(out.used());
        }
    } catch (const AppError& e) {
        failure = e;
    }
    for (; field < RegisterNode::kFields; ++field)
        ends[field] = static_cast<std::uint32_t>(out.used());
    const std::size_t used = out.used();
    const bool inPlace = !out.inScratch();
    builder.ShrinkBlock(reserved, reservedChars, inPlace ? used : 0); // nothing kept when 0
    if (used == 0) {
        r = RegisterNode();
    } else {
        RegisterNode::Block* block = inPlace ? reserved : builder.NewBlock(used);
        if (!inPlace) { // the arena keeps the given-back block readable; it may be the same
            std::memmove(block->end, ends, sizeof block->end);
            std::memcpy(block->chars(), out.chars(), used * sizeof(char16_t));
        }
        r.Borrow(block);
    }
    if (failure) throw *failure;
}

class TreeReader {
public:
    TreeReader(const QByteArray& bytes, int version, RegisterTree& tree)
        : in_(bytes), version_(version), builder_(tree) {}
    TreeBuilder& builder() { return builder_; }
    Cursor& cursor() { return in_; }

    void readNode(TreeNode& node, int depth) {
        if (depth > kMaxTreeDepth)
            throw AppError(QStringLiteral("Stream data corrupt. The tree is nested deeper than "
                                          "%1 levels.")
                               .arg(kMaxTreeDepth));
        const unsigned char* header = in_.fields(8);
        const auto type = static_cast<std::int32_t>(Cursor::Le32(header));
        const auto size = static_cast<std::int32_t>(Cursor::Le32(header + 4));
        if (type != kNodeChunk) throw AppError(kAnchorMissing);
        const qint64 end = in_.pos() + size;
        while (in_.pos() < end)
            readSubChunk(node, depth);
        if (in_.pos() != end) throw AppError(kUnexpectedEnd);
    }

private:
    void readSubChunk(TreeNode& node, int depth) {
        const unsigned char* header = in_.fields(8);
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
        const unsigned char* body = in_.fields(v2 ? 17 : 12);
        const std::uint32_t childCount = Cursor::Le32(body);
        node.height = static_cast<std::uint16_t>(Cursor::Le32(body + 4));
        if (v2) {
            node.states = Cursor::Le16(body + 8);
        } else {
            const std::uint16_t states = body[8];
            node.states = states | ((states & 0x80) ? 0x100 : 0x80);
        }
        node.states &= ~NodeState::Selected;
        const unsigned char* tail = body + (v2 ? 10 : 9);
        node.alignment = tail[0];
        node.checkState = tail[1];
        node.checkKind = tail[2];
        // Each child needs at least its chunk header, so a count the file cannot hold ends
        // in a read error at the first missing child.
        // An empty node chunk takes 8 bytes, so no more children than that can follow.
        builder_.ReserveChildren(
            node, static_cast<std::uint32_t>(std::min<qint64>(childCount, in_.remaining() / 8)));
        for (std::uint32_t i = 0; i < childCount; ++i)
            readNode(*builder_.AppendChild(node), depth + 1);
    }

    void readUserData(TreeNode& node, std::int32_t size) {
        const qint64 start = in_.pos();
        // Room in place for as many characters as the chunk has bytes, within what the file
        // still holds and a few kilobytes; larger records go through the scratch buffer.
        const qint64 room = std::min<qint64>({size, in_.remaining(), kInPlaceCharacters});
        VTLoadNode(in_, builder_, node.record, scratch_, static_cast<std::size_t>(room));
        if (in_.pos() == start + size) return;
        if (start + size > in_.pos() + in_.remaining()) throw AppError(kReadError);
        in_.seek(start + size);
    }

    Cursor in_;
    int version_;
    TreeBuilder builder_;
    std::vector<char16_t> scratch_ = std::vector<char16_t>(256);
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

    if (!node.record.Name().isEmpty()) {
        const qsizetype captionStart = out.beginChunk(kCaptionChunk);
        for (QChar c : node.record.Name())
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
    TreeReader reader(bytes, version, tree);
    Cursor& in = reader.cursor();
    in.seek(12);
    std::uint32_t count = version == 2 ? in.u32() : 2147483647u;
    TreeNode& root = *reader.builder().root();
    while (!in.atEnd() && count > 0) {
        --count;
        reader.readNode(*reader.builder().AppendChild(root), 0);
    }
    return version;
}

int LoadDeviceFile(const QString& path, RegisterTree& tree) {
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
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        tree.clear();
        throw AppError(kReadError);
    }
    return ReadDeviceFile(bytes, tree);
}

QByteArray VTSaveNode(const RegisterNode& r) {
    Writer out;
    for (int field = 0; field < RegisterNode::kFields; ++field)
        WriteTaggedText(out, r.text(RegisterNode::Field(field)));
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
