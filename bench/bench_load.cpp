// Device file load: a generated file of 100,000 nodes (groups, registers, options; depth 4)
// loaded into RegisterTree, against a plain sequential read of the same file in the same run.
#include "regmap/devicefile.h"
#include "report.h"
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <malloc.h>

namespace {

void Fill(TreeNode* n, const char* name, int i, const char* type, const char* access) {
    n->record = {QStringLiteral("%1 %2").arg(QLatin1String(name)).arg(i),
                 QString(),
                 QString::number(i),
                 QLatin1String(type),
                 QStringLiteral("1"),
                 QLatin1String(access),
                 QString::number(i % 1000)};
    n->states = NodeState::Initialized | NodeState::Visible;
}

// 10 top-level groups of up to 30 subgroups of up to 500 registers, every fourth with 3 options:
// depth 4, about 100,000 nodes.
int Generate(RegisterTree& tree) {
    int count = 0;
    for (int g = 0; g < 10; ++g) {
        TreeNode* group = tree.appendTopLevel();
        Fill(group, "Grupa", g, "", "");
        ++count;
        for (int s = 0; s < 30; ++s) {
            TreeNode* sub = group->appendChild();
            Fill(sub, "Podgrupa", s, "", "");
            ++count;
            for (int r = 0; r < 500 && count < 100000; ++r) {
                TreeNode* reg = sub->appendChild();
                Fill(reg, "Rejestr", count, r % 4 ? "WORD" : "HEX", r % 3 ? "RW" : "RO");
                ++count;
                if (r % 4) continue;
                for (int o = 0; o < 3 && count < 100000; ++o) {
                    Fill(reg->appendChild(), "Opcja", o, "BIT", "");
                    ++count;
                }
                reg->states |= NodeState::HasChildren;
            }
            sub->states |= NodeState::HasChildren;
        }
        group->states |= NodeState::HasChildren;
    }
    return count;
}

qint64 TextBytes(const RegisterTree& tree) {
    qint64 bytes = 0;
    for (TreeNode* n = tree.First(); n; n = RegisterTree::GetNext(n))
        for (int f = 0; f < RegisterNode::kFields; ++f)
            bytes += 2 * n->record.text(RegisterNode::Field(f)).size();
    return bytes;
}

} // namespace

int main() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/big.dat";
    int nodes = 0;
    {
        RegisterTree tree;
        nodes = Generate(tree);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return 1;
        f.write(WriteDeviceFile(tree));
    }
    const double megabytes = QFile(path).size() / 1e6;
    double floorMs = 1e9, loadMs = 1e9;
    qint64 heap = 0, texts = 0;
    for (int round = 0; round < 5; ++round) { // best of five for both
        QElapsedTimer t;
        t.start();
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return 1;
        volatile qsizetype size = f.readAll().size();
        (void)size;
        floorMs = std::min(floorMs, t.nsecsElapsed() / 1e6);

        const std::size_t before = mallinfo2().uordblks;
        RegisterTree tree;
        t.start();
        LoadDeviceFile(path, tree);
        loadMs = std::min(loadMs, t.nsecsElapsed() / 1e6);
        heap = static_cast<qint64>(mallinfo2().uordblks - before);
        texts = TextBytes(tree);
    }
    std::printf("device file of %d nodes, %.1f MB\n", nodes, megabytes);
    std::printf("  plain sequential read  %8.2f ms  %7.1f MB/s\n", floorMs,
                megabytes * 1000 / floorMs);
    std::printf("  LoadDeviceFile         %8.2f ms  %7.1f MB/s\n", loadMs,
                megabytes * 1000 / loadMs);
    std::printf("  load / plain read: %.2f\n", loadMs / floorMs);
    std::printf("  heap per node %.0f bytes: texts' characters (UTF-16) %.0f, the rest (node,\n"
                "  record block header, child arrays) %.0f\n",
                double(heap) / nodes, double(texts) / nodes, double(heap - texts) / nodes);
    char what[96], ours[96], peer[96], ratio[128];
    std::snprintf(what, sizeof what, "load of a %d-node device file, %.1f MB (bench_load)", nodes,
                  megabytes);
    std::snprintf(ours, sizeof ours, "%.1f ms, %.0f MB/s", loadMs, megabytes * 1000 / loadMs);
    std::snprintf(peer, sizeof peer, "plain read %.1f ms", floorMs);
    std::snprintf(ratio, sizeof ratio,
                  "%.1f times the plain read; %.0f bytes per node beyond texts", loadMs / floorMs,
                  double(heap - texts) / nodes);
    TableRow(what, ours, peer, ratio);
    return 0;
}
