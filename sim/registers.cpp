#include "registers.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include "txn/codec.h"
#include <QStringList>

namespace {

// The register words a write of the node's Value would carry, by the program's encoder.
std::vector<std::uint16_t> WordsOf(const RegisterNode& r) {
    const int count = ParseInteger(r.Count);
    if (count == 1) return {static_cast<std::uint16_t>(ParseInteger(r.Value))};
    const WriteData data = EncodeWriteData(r);
    std::vector<std::uint16_t> words;
    for (int i = 0; i < count; ++i)
        words.push_back(static_cast<std::uint16_t>(data.bytes[2 * i] << 8 | data.bytes[2 * i + 1]));
    return words;
}

} // namespace

RegisterTables::RegisterTables() : mapping_(modbus_mapping_new(0, 0, 65536, 65536)) {}

RegisterTables::~RegisterTables() {
    modbus_mapping_free(mapping_);
}

void RegisterTables::Store(int address, bool input, const std::vector<std::uint16_t>& words) {
    std::uint16_t* table = input ? mapping_->tab_input_registers : mapping_->tab_registers;
    for (std::size_t i = 0; i < words.size() && address + i < 65536; ++i)
        table[address + i] = words[i];
}

QStringList RegisterTables::LoadDevice(const QString& path) {
    LoadDeviceFile(path, device_);
    QStringList warnings;
    for (TreeNode* node = device_.First(); node; node = RegisterTree::GetNext(node)) {
        const RegisterNode& r = node->record;
        const AccessCode access = AccessCodeOf(r.Access);
        if (access == acNone || r.Value.isEmpty()) continue;
        try {
            Store(ParseInteger(r.Address) & 0xFFFF, access == acRO, WordsOf(r));
        } catch (const AppError& e) {
            warnings << QStringLiteral("%1: %2").arg(r.Name, e.message());
        }
    }
    return warnings;
}

void RegisterTables::SetWords(const QString& text) {
    const QStringList parts = text.split('=');
    if (parts.size() != 2)
        throw AppError(QStringLiteral("--set: potrzebne ADRES=SŁOWO[,SŁOWO...]"));
    std::vector<std::uint16_t> words;
    for (const QString& w : parts[1].split(','))
        words.push_back(static_cast<std::uint16_t>(ParseInteger(w)));
    const int address = ParseInteger(parts[0]) & 0xFFFF;
    Store(address, true, words);
    Store(address, false, words);
}

void RegisterTables::AddJitter(const QString& text) {
    const qsizetype colon = text.lastIndexOf(':');
    if (colon < 0) throw AppError(QStringLiteral("--jitter: potrzebne NAZWA:AMPLITUDA"));
    const TreeNode* node = device_.FindNodeByName(text.left(colon));
    if (!node) throw AppError(QStringLiteral("--jitter: nie ma rejestru %1").arg(text.left(colon)));
    Jitter j;
    j.address = ParseInteger(node->record.Address) & 0xFFFF;
    j.input = AccessCodeOf(node->record.Access) == acRO;
    j.base = (j.input ? mapping_->tab_input_registers : mapping_->tab_registers)[j.address];
    j.amplitude = ParseInteger(text.mid(colon + 1));
    jitters_.push_back(j);
}

void RegisterTables::ApplyJitter(std::uint32_t (*random)()) {
    for (const Jitter& j : jitters_) {
        const int noise = static_cast<int>(random() % (2 * j.amplitude + 1)) - j.amplitude;
        (j.input ? mapping_->tab_input_registers : mapping_->tab_registers)[j.address] =
            static_cast<std::uint16_t>(j.base + noise);
    }
}
