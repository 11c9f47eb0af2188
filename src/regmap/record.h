#pragma once
// The register record of one tree node and the vocabulary that interprets its texts.
#include <QString>
#include <QStringView>
#include <cstddef>
#include <cstdint>

// The seven texts of one register, kept together in one block: the characters of all seven
// one after another, and where each one ends. A record costs one pointer; an all-empty record
// has no block. A block filled by the device file reader lives in its tree's arena; any text
// set later moves the record to a block of its own.
class RegisterNode {
public:
    enum Field : int { kName, kNote, kAddress, kType, kCount, kAccess, kValue, kFields };

    struct Block {
        std::uint32_t end[kFields]; // one past each text's last character
        char16_t* chars() { return reinterpret_cast<char16_t*>(this + 1); }
        const char16_t* chars() const { return reinterpret_cast<const char16_t*>(this + 1); }
    };
    static std::size_t BlockBytes(std::size_t characters) {
        return sizeof(Block) + characters * sizeof(char16_t);
    }
    // The most characters one record holds, all seven texts together.
    static constexpr std::size_t kMaxCharacters = 0x7FFFFFFF;

    RegisterNode() = default;
    RegisterNode(const QString& name, const QString& note, const QString& address,
                 const QString& type, const QString& count, const QString& access,
                 const QString& value);
    RegisterNode(const RegisterNode& other);
    RegisterNode(RegisterNode&& other) noexcept : block_(other.block_) { other.block_ = 0; }
    RegisterNode& operator=(const RegisterNode& other);
    RegisterNode& operator=(RegisterNode&& other) noexcept;
    ~RegisterNode() { Release(); }

    QStringView text(Field field) const;
    // Throws AppError when the record would exceed kMaxCharacters.
    void setText(Field field, QStringView text);

    QStringView Name() const { return text(kName); }
    QStringView Note() const { return text(kNote); }
    QStringView Address() const { return text(kAddress); }
    QStringView Type() const { return text(kType); }
    QStringView Count() const { return text(kCount); }
    QStringView Access() const { return text(kAccess); }
    QStringView Value() const { return text(kValue); }
    void setName(const QString& t) { setText(kName, t); }
    void setNote(const QString& t) { setText(kNote, t); }
    void setAddress(const QString& t) { setText(kAddress, t); }
    void setType(const QString& t) { setText(kType, t); }
    void setCount(const QString& t) { setText(kCount, t); }
    void setAccess(const QString& t) { setText(kAccess, t); }
    void setValue(const QString& t) { setText(kValue, t); }

    // Takes a filled block that the caller keeps alive at least as long as this record.
    void Borrow(Block* block) {
        if (block_) Release();
        block_ = reinterpret_cast<std::uintptr_t>(block);
    }

private:
    static constexpr std::uintptr_t kOwned = 1; // the low bit: the block is ours to free
    const Block* block() const { return reinterpret_cast<const Block*>(block_ & ~kOwned); }
    void Adopt(Block* owned);
    void Release();

    std::uintptr_t block_ = 0;
};

enum TypeCode : int {
    tcNone = 0,
    tcWord = 4,
    tcInt = 5,
    tcReal = 6,
    tcText = 7,
    tcHex = 10,
    tcPrec = 11,
    tcFloat = 12
};

enum AccessCode : int { acNone = 0, acRO = 1, acRW = 16, acRP = 17 };

TypeCode TypeCodeOf(QStringView type);
AccessCode AccessCodeOf(QStringView access);

// Decimal, or hexadecimal after "$", "x", "X", "0x" or "0X"; an optional sign and leading
// blanks. Throws AppError "'%s' is not a valid integer value".
std::int32_t ParseInteger(QStringView text);
