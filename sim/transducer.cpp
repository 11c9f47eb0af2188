#include "transducer.h"
#include "regmap/error.h"
#include "txn/codec.h"
#include "txn/numbers.h"
#include <QLocale>
#include <cmath>

bool ParseDecimal(const QString& text, double& value) {
    bool ok = false;
    value = QLocale::c().toDouble(QString(text).replace(',', '.').trimmed(), &ok);
    return ok && std::isfinite(value);
}

Transducer::Transducer(RegisterTables& tables, const TransducerSettings& settings)
    : tables_(tables), settings_(settings) {
    raw_ = PlaceOf("R0");
    result_ = PlaceOf("Temperatura");
    low_ = PlaceOf("N100");
    high_ = PlaceOf("N400");
    resultRecord_ = tables_.device().FindNodeByName(QStringLiteral("Temperatura"))->record;
}

Transducer::Place Transducer::PlaceOf(const char* name) const {
    const TreeNode* node = tables_.device().FindNodeByName(QLatin1String(name));
    if (!node || AccessCodeOf(node->record.Access) == acNone)
        throw AppError(QStringLiteral("--transducer: plik urządzenia nie ma rejestru %1")
                           .arg(QLatin1String(name)));
    return {ParseInteger(node->record.Address) & 0xFFFF, AccessCodeOf(node->record.Access) == acRO};
}

std::uint16_t* Transducer::Word(const Place& p) const {
    modbus_mapping_t* m = tables_.mapping();
    return (p.input ? m->tab_input_registers : m->tab_registers) + p.address;
}

void Transducer::Update(std::uint32_t (*random)()) {
    const int noise = settings_.noise > 0
                          ? static_cast<int>(random() % (2 * settings_.noise + 1)) - settings_.noise
                          : 0;
    const long raw = std::lround(settings_.offset + settings_.gain * settings_.input) + noise;
    *Word(raw_) = static_cast<std::uint16_t>(raw);
    const double low = static_cast<std::int16_t>(*Word(low_));
    const double high = static_cast<std::int16_t>(*Word(high_));
    // A device with both points the same cannot draw its line: it shows the low point.
    const double result =
        high == low ? 100.0 : 100.0 + (static_cast<double>(raw) - low) * 300.0 / (high - low);
    resultRecord_.Value = FormatFixed(result, 4);
    const WriteData data = EncodeWriteData(resultRecord_);
    std::uint16_t* words = Word(result_);
    const int count = ParseInteger(resultRecord_.Count);
    for (int i = 0; i < count && result_.address + i < 65536; ++i)
        words[i] = static_cast<std::uint16_t>(data.bytes[2 * i] << 8 | data.bytes[2 * i + 1]);
}

QString Transducer::TakeControlLine(const QString& line) {
    QString text = line.trimmed();
    if (text.isEmpty()) return {};
    if (text.startsWith(QLatin1String("input "))) text = text.mid(6);
    double value = 0;
    if (!ParseDecimal(text, value))
        return QStringLiteral("sterowanie: \"%1\" nie jest wejściem (input LICZBA)").arg(line);
    settings_.input = value;
    return {};
}
