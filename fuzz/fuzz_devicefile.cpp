// The device file reader over any bytes: a clean error or a tree, never a crash or a hang.
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RegisterTree tree;
    try {
        ReadDeviceFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), tree);
        WriteDeviceFile(tree); // what was read can always be written back
    } catch (const AppError&) {
    }
    return 0;
}
