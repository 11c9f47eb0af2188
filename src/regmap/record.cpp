#include "record.h"
#include "error.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

RegisterNode::RegisterNode(const QString& name, const QString& note, const QString& address,
                           const QString& type, const QString& count, const QString& access,
                           const QString& value) {
    const QString* texts[kFields] = {&name, &note, &address, &type, &count, &access, &value};
    std::size_t total = 0;
    for (const QString* t : texts)
        total += static_cast<std::size_t>(t->size());
    if (total == 0) return;
    if (total > kMaxCharacters) throw AppError(QStringLiteral("Text too long"));
    auto* b = static_cast<Block*>(std::malloc(BlockBytes(total)));
    if (!b) throw std::bad_alloc();
    std::uint32_t end = 0;
    for (int f = 0; f < kFields; ++f) {
        std::memcpy(b->chars() + end, texts[f]->utf16(), sizeof(char16_t) * texts[f]->size());
        end += static_cast<std::uint32_t>(texts[f]->size());
        b->end[f] = end;
    }
    Adopt(b);
}

RegisterNode::RegisterNode(const RegisterNode& other) {
    *this = other;
}

RegisterNode& RegisterNode::operator=(const RegisterNode& other) {
    if (this == &other) return *this;
    const Block* from = other.block();
    if (!from) {
        Release();
        return *this;
    }
    const std::size_t bytes = BlockBytes(from->end[kFields - 1]);
    auto* b = static_cast<Block*>(std::malloc(bytes));
    if (!b) throw std::bad_alloc();
    std::memcpy(b, from, bytes);
    Release();
    Adopt(b);
    return *this;
}

RegisterNode& RegisterNode::operator=(RegisterNode&& other) noexcept {
    if (this != &other) {
        Release();
        block_ = other.block_;
        other.block_ = 0;
    }
    return *this;
}

QStringView RegisterNode::text(Field field) const {
    const Block* b = block();
    if (!b) return {};
    const std::uint32_t begin = field == 0 ? 0 : b->end[field - 1];
    return QStringView(b->chars() + begin, qsizetype(b->end[field] - begin));
}

void RegisterNode::setText(Field field, QStringView text) {
    const Block* old = block();
    const std::size_t oldTotal = old ? old->end[kFields - 1] : 0;
    const std::size_t oldLength = static_cast<std::size_t>(this->text(field).size());
    const std::size_t total = oldTotal - oldLength + static_cast<std::size_t>(text.size());
    if (total > kMaxCharacters) throw AppError(QStringLiteral("Text too long"));
    if (total == 0) {
        Release();
        return;
    }
    auto* b = static_cast<Block*>(std::malloc(BlockBytes(total)));
    if (!b) throw std::bad_alloc();
    std::uint32_t end = 0;
    for (int f = 0; f < kFields; ++f) {
        const QStringView part = f == field ? text : this->text(Field(f));
        std::copy(part.utf16(), part.utf16() + part.size(), b->chars() + end);
        end += static_cast<std::uint32_t>(part.size());
        b->end[f] = end;
    }
    Release();
    Adopt(b);
}

void RegisterNode::Adopt(Block* owned) {
    block_ = reinterpret_cast<std::uintptr_t>(owned) | kOwned;
}

void RegisterNode::Release() {
    if (block_ & kOwned) std::free(reinterpret_cast<Block*>(block_ & ~kOwned));
    block_ = 0;
}

QString BoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar('.')) return message + '.';
    return message;
}

namespace {

// Only the ASCII letters change; Polish letters stay as they are.
QString AsciiUpper(QStringView text) {
    QString upper = text.toString();
    for (QChar& c : upper)
        if (c >= 'a' && c <= 'z') c = QChar(c.unicode() - 'a' + 'A');
    return upper;
}

int HexDigit(QChar c) {
    if (c >= '0' && c <= '9') return c.unicode() - '0';
    if (c >= 'A' && c <= 'F') return c.unicode() - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c.unicode() - 'a' + 10;
    return -1;
}

int DecimalDigit(QChar c) {
    return c >= '0' && c <= '9' ? c.unicode() - '0' : -1;
}

[[noreturn]] void NotAnInteger(QStringView text) {
    throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

} // namespace

TypeCode TypeCodeOf(QStringView type) {
    static const struct {
        const char* keyword;
        TypeCode code;
    } table[] = {{"WORD", tcWord}, {"INT", tcInt},   {"REAL", tcReal},  {"TEXT", tcText},
                 {"HEX", tcHex},   {"PREC", tcPrec}, {"FLOAT", tcFloat}};
    const QString upper = AsciiUpper(type);
    for (const auto& entry : table)
        if (upper == QLatin1String(entry.keyword)) return entry.code;
    return tcNone;
}

AccessCode AccessCodeOf(QStringView access) {
    const QString upper = AsciiUpper(access);
    if (upper == QLatin1String("RO")) return acRO;
    if (upper == QLatin1String("RW")) return acRW;
    if (upper == QLatin1String("RP")) return acRP;
    return acNone;
}

std::int32_t ParseInteger(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    bool hex = false;
    if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= n) NotAnInteger(text);

    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i]) : DecimalDigit(text[i]);
        if (digit < 0) NotAnInteger(text);
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0xFFFFFFFFull) NotAnInteger(text);
    }
    if (hex) {
        const auto bits = static_cast<std::uint32_t>(value);
        return static_cast<std::int32_t>(negative ? 0u - bits : bits);
    }
    if (value > (negative ? 2147483648ull : 2147483647ull)) NotAnInteger(text);
    return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(value))
                    : static_cast<std::int32_t>(value);
}
