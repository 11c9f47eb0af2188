#pragma once
// The simulated device's register tables, filled from a device file.
#include "regmap/tree.h"
#include <QString>
#include <cstdint>
#include <functional>
#include <modbus/modbus.h>
#include <vector>

struct Jitter {
    int address = 0;
    bool input = false;
    std::uint16_t base = 0;
    int amplitude = 0;
};

class RegisterTables {
public:
    RegisterTables();
    ~RegisterTables();
    RegisterTables(const RegisterTables&) = delete;
    RegisterTables& operator=(const RegisterTables&) = delete;

    modbus_mapping_t* mapping() { return mapping_; }
    // RO registers go to the input table, every other register to the holding table.
    // Returns warnings about values that could not be encoded.
    QStringList LoadDevice(const QString& path);
    // Raw words at an address of both tables, "ADDR=WORD[,WORD...]".
    void SetWords(const QString& text);
    // "NAME:AMPLITUDE": the register named in the device file gets noise on every read.
    void AddJitter(const QString& text);
    void ApplyJitter(std::uint32_t (*random)());
    const RegisterTree& device() const { return device_; }
    // Called before each read is answered, after the noise: a model's registers follow.
    std::function<void()> beforeRead;

private:
    void Store(int address, bool input, const std::vector<std::uint16_t>& words);

    modbus_mapping_t* mapping_;
    std::vector<Jitter> jitters_;
    RegisterTree device_;
};
