// The device file reader over any bytes: a clean error or a tree, never a crash or a hang.
// A tree that loads is written again and must load to the same tree, and write the same bytes.
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Differs(const char* what) {
    std::fprintf(stderr, "device file round trip: %s differs\n", what);
    std::abort();
}

// The writer stores every state but the transient ones, and the reader clears the selection.
void CheckSame(const TreeNode& read, const TreeNode& written) {
    if (!(read.record == written.record)) Differs("a record");
    if (read.states != (written.states & ~NodeState::Transient & ~NodeState::Selected))
        Differs("the states");
    if (read.height != written.height || read.alignment != written.alignment ||
        read.checkState != written.checkState || read.checkKind != written.checkKind)
        Differs("the tree state");
    if (read.children().size() != written.children().size()) Differs("a child count");
    for (std::size_t i = 0; i < read.children().size(); ++i)
        CheckSame(*read.children()[i], *written.children()[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RegisterTree tree;
    try {
        ReadDeviceFile(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), tree);
    } catch (const AppError&) {
        WriteDeviceFile(tree); // what was read before the error can be written all the same
        return 0;
    }
    const QByteArray written = WriteDeviceFile(tree);
    RegisterTree back;
    try {
        ReadDeviceFile(written, back);
    } catch (const AppError& e) {
        std::fprintf(stderr, "device file round trip: %s\n", qPrintable(e.message()));
        std::abort();
    }
    if (back.topLevel().size() != tree.topLevel().size()) Differs("the top-level count");
    for (std::size_t i = 0; i < tree.topLevel().size(); ++i)
        CheckSame(*back.topLevel()[i], *tree.topLevel()[i]);
    if (WriteDeviceFile(back) != written) Differs("the second writing");
    return 0;
}
