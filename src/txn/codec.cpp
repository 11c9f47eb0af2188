#include "codec.h"
#include "loglines.h"
#include "numbers.h"
#include "regmap/cp1250.h"
#include "regmap/error.h"
#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace {

int MinimumDataBytes(int valueType) {
    const ValueTypeInfo* row = TypeInfo(valueType);
    return row ? row->minimumBytes : 0;
}

float SingleFromLittleEndian(const std::uint8_t* b) {
    return std::bit_cast<float>(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
}

void PutLittleEndian(std::uint8_t* b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<std::uint8_t>(v >> 8 * i);
}

QString IntegerText(std::uint32_t bits, int valueType, bool twoRegisters) {
    if (valueType == tcHex) return HexValueText(bits);
    if (!twoRegisters) {
        const auto word = static_cast<std::uint16_t>(bits);
        return valueType == tcWord ? QString::number(word)
                                   : QString::number(static_cast<std::int16_t>(word));
    }
    return valueType == tcWord ? QString::number(bits)
                               : QString::number(static_cast<std::int32_t>(bits));
}

// registers: how many the request asked for. Two registers of an integer type are the 32-bit
// value a write of them carries, register 1 the low half; otherwise register 1 alone counts.
QString DecodeData(std::uint8_t* d, std::uint8_t n, int valueType, int registers, float& real) {
    const ValueTypeInfo* row = TypeInfo(valueType);
    if (!row) return {};
    using Kind = ValueTypeInfo::Kind;
    if (row->order == ValueTypeInfo::Order::SwappedPairs) SwapPairs(d, n);
    if (row->order == ValueTypeInfo::Order::Reversed) Reverse4(d);
    switch (row->kind) {
    case Kind::Integer: {
        const bool two = registers == 2 && n >= 4;
        std::uint32_t bits = static_cast<std::uint16_t>(d[0] | d[1] << 8);
        if (two) bits |= std::uint32_t(d[2] | d[3] << 8) << 16;
        return IntegerText(bits, valueType, two);
    }
    case Kind::Real:
        real = SingleFromLittleEndian(d);
        return FormatFixed(real, row->decimals);
    case Kind::Text:
        return TextFromBytes(d, n);
    }
    return {};
}

// A read reply must hold the data its byte count claims, and enough of them for its type.
bool ReadReplyComplete(const ReplyBuffer& reply, int valueType) {
    const std::uint32_t received = reply.BytesRead & 0xFFFF;
    const std::uint8_t count = reply.Bytes[2];
    return received >= 5 && 5u + count <= received && count >= MinimumDataBytes(valueType);
}

} // namespace

bool DecodeReply(TxnState& state, RegisterTree& tree) {
    ReplyBuffer& reply = state.reply;
    const std::uint8_t function = state.frame.FunctionCode();
    const bool exception = IsExceptionReply(reply.Bytes[1]);
    if (exception ||
        (IsReadFunction(function) && !ReadReplyComplete(reply, state.frame.ValueType))) {
        state.LastReplyOk = false;
        return false;
    }
    state.LastReplyOk = true;
    state.DecodedText.clear();
    state.DecodedReal = std::numeric_limits<float>::quiet_NaN();
    if (IsReadFunction(function)) {
        state.DecodedText = DecodeData(reply.Bytes + 3, reply.Bytes[2], state.frame.ValueType,
                                       state.frame.RegisterCount, state.DecodedReal);
        StoreValue(state, tree);
    } else if (IsWriteFunction(function)) {
        state.DecodedText = state.PendingWriteText;
        StoreValue(state, tree);
    }
    return true;
}

void StoreValue(TxnState& state, RegisterTree& tree) {
    if (IsWriteFunction(state.frame.FunctionCode()) || !state.CurrentRecord) return;
    UpdateBracket bracket(tree);
    state.CurrentRecord->Value = state.DecodedText;
    if (IsExactlyHex(*state.CurrentRecord) && RegisterTree::FirstChild(state.CurrentNode))
        MarkOptions(state, ParseInteger(state.DecodedText));
}

void MarkOptions(TxnState& state, std::int32_t value) {
    MarkOptionsOf(state.CurrentNode, value);
}

namespace {
bool IsBelow(const TreeNode* node, const TreeNode* ancestor) {
    for (const TreeNode* p = node->parent(); p; p = p->parent())
        if (p == ancestor) return true;
    return false;
}

bool IsByteGroup(const TreeNode* node) {
    return node->record.Type.isEmpty() && RegisterTree::FirstChild(node);
}

// Whether an option's mark is set by the register's value: an option of a byte group by its
// byte, a check box by its bits all set, any other by the whole value.
bool OptionIsSet(const TreeNode* option, bool inByteGroup, std::int32_t value) {
    const std::int32_t v = ParseInteger(option->record.Value);
    if (inByteGroup) {
        const std::int32_t mask = v > 255 ? 0xFF00 : 0x00FF;
        return (value & mask) == (v & mask);
    }
    if (option->checkKind == ckCheckBox && v != 0) return (value & v) == v;
    return v == value;
}
} // namespace

void MarkOptionsOf(TreeNode* reg, std::int32_t value) {
    const TreeNode* byteGroup = nullptr;
    for (TreeNode* node = RegisterTree::FirstChild(reg); node; node = RegisterTree::GetNext(node)) {
        if (!IsBelow(node, reg)) break; // past the register's own options
        if (IsByteGroup(node)) {
            byteGroup = node;
            continue;
        }
        if (!IsExactlyBit(node->record)) break;
        const bool inByteGroup = byteGroup && node->parent() == byteGroup;
        node->checkState =
            OptionIsSet(node, inByteGroup, value) ? csCheckedNormal : csUncheckedNormal;
    }
}

QString TextFromBytes(const std::uint8_t* bytes, std::uint8_t count) {
    int length = 0;
    while (length < count && bytes[length] != 0)
        ++length;
    // A device's control characters show as '?', in the tree as in the log.
    return PrintableText(Cp1250ToString(reinterpret_cast<const char*>(bytes), length));
}

QString HexValueText(std::uint32_t value) {
    return '$' + QString::number(value, 16).toUpper().rightJustified(2, '0');
}

QString IntegerValueText(std::int32_t value, const RegisterNode& reg) {
    const int type = TypeCodeOf(reg.Type);
    if (!IsIntegerType(type)) return QString::number(value);
    bool two = false;
    try {
        two = ParseInteger(reg.Count) == 2;
    } catch (const AppError&) {
    }
    const auto bits = static_cast<std::uint32_t>(value);
    return IntegerText(two ? bits : bits & 0xFFFF, type, two);
}

std::int32_t RegisterInteger(const RegisterNode& node, int registers) {
    const QString& text = node.Value;
    std::int64_t wide = 0;
    try {
        wide = ParseInteger(text);
    } catch (const AppError&) {
        // A decimal integer too long for 32 bits is out of range, not malformed.
        bool ok = false;
        wide = text.trimmed().toLongLong(&ok);
        if (!ok) throw;
        wide = wide < 0 ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max();
    }
    const std::int64_t low = registers == 1 ? -32768 : std::numeric_limits<std::int32_t>::min();
    const std::int64_t high = registers == 1 ? 65535 : std::numeric_limits<std::int32_t>::max();
    if (wide < low || wide > high)
        throw AppError(QStringLiteral("Wartość %1 nie mieści się w rejestrze %2: dozwolone od %3 "
                                      "do %4")
                           .arg(text, node.Name)
                           .arg(low)
                           .arg(high));
    return static_cast<std::int32_t>(wide);
}

int WriteRegisterCount(const RegisterNode& node) {
    const std::int32_t count = ParseInteger(node.Count);
    if (count < 0 || count > kMaxWriteRegisters)
        throw AppError(QStringLiteral("Nie można zapisać %1 rejestrów jednym żądaniem: "
                                      "najwyżej %2")
                           .arg(count)
                           .arg(kMaxWriteRegisters));
    return count;
}

WriteData EncodeWriteData(const RegisterNode& node) {
    const int registers = WriteRegisterCount(node);
    WriteData out;
    out.sentText = node.Value;
    std::uint8_t* data = out.bytes.data();
    // Integers and REAL/PREC floats go out with the bytes of each register pair swapped, over
    // the first registers / 2 + 1 registers, as devices of this family expect.
    const ValueTypeInfo* row = TypeInfo(TypeCodeOf(node.Type));
    bool swapPairs = !row || row->order == ValueTypeInfo::Order::SwappedPairs;
    using Kind = ValueTypeInfo::Kind;
    switch (row ? row->kind : Kind::Integer) {
    case Kind::Integer: // a register of no type sends zero data
        if (row)
            PutLittleEndian(data, static_cast<std::uint32_t>(RegisterInteger(node, registers)));
        break;
    case Kind::Real:
        PutLittleEndian(data, std::bit_cast<std::uint32_t>(ParseReal(node.Value)));
        if (row->order == ValueTypeInfo::Order::Reversed) Reverse4(data);
        break;
    case Kind::Text: {
        // In the code page that reads decode, so a Polish text reads back as written.
        const int dataBytes = 2 * registers;
        const int used = static_cast<int>(std::min<qsizetype>(dataBytes, node.Value.size()));
        for (int i = 0; i < used; ++i)
            data[i] = static_cast<std::uint8_t>(CharToCp1250(node.Value[i].unicode()));
        std::memset(data + used, ' ', dataBytes - used);
        out.sentText = Cp1250ToString(reinterpret_cast<const char*>(data), used);
        // An empty text goes out as blanks with its pairs swapped, as it always has.
        swapPairs = used == 0;
        break;
    }
    }
    if (swapPairs) SwapPairs(data, 2 * (registers / 2 + 1));
    return out;
}
