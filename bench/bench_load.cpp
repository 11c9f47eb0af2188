// Device file load: a generated file of 100,000 nodes (groups, registers, options; depth 4)
// loaded into RegisterTree, against a plain sequential read of the same file in the same run,
// with its time and heap per node checked against their bounds (0.5 s, 1 KB a node); then the
// sample device files, which are what a technician loads, against 1 ms each.
#include "regmap/devicefile.h"
#include "report.h"
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <vector>

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
        for (QString RegisterNode::*text : kRecordTexts)
            bytes += 2 * (n->record.*text).size();
    return bytes;
}

// The median time of 200 loads of a sample file, in milliseconds.
double SampleLoadMs(const QString& path) {
    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
        RegisterTree tree;
        QElapsedTimer t;
        t.start();
        LoadDeviceFile(path, tree);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    return ms[ms.size() / 2];
}

const char* Verdict(bool within) {
    return within ? "within" : "OVER";
}

} // namespace

int main(int, char* argv[]) {
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
    const double perNode = double(heap) / nodes;
    std::printf("  heap per node %.0f bytes, of which the texts' characters (UTF-16) %.0f\n",
                perNode, double(texts) / nodes);
    std::printf("  bounds: load %.1f ms of 500 ms (%s), %.0f of 1024 bytes a node (%s)\n", loadMs,
                Verdict(loadMs < 500), perNode, Verdict(perNode < 1024));
    // The samples sit beside the programs, in bin/ next to this benchmark's bench/.
    const QString bin = QFileInfo(QString::fromLocal8Bit(argv[0])).absolutePath() + "/../bin/";
    double slowestSampleMs = 0;
    for (const char* sample : {"TR100.dat", "TR100F.dat"}) {
        const QString path = bin + QLatin1String(sample);
        const double ms = SampleLoadMs(path);
        slowestSampleMs = std::max(slowestSampleMs, ms);
        std::printf("  sample %s (%lld bytes): %.3f ms a load, median of 200 (bound 1 ms, %s)\n",
                    sample, static_cast<long long>(QFileInfo(path).size()), ms, Verdict(ms < 1));
    }
    char what[96], ours[128], peer[96], ratio[128];
    std::snprintf(what, sizeof what, "load of a %d-node device file, %.1f MB (bench_load)", nodes,
                  megabytes);
    std::snprintf(ours, sizeof ours, "%.1f ms, %.0f bytes a node; samples %.3f ms at most", loadMs,
                  perNode, slowestSampleMs);
    std::snprintf(peer, sizeof peer, "plain read %.1f ms", floorMs);
    std::snprintf(ratio, sizeof ratio,
                  "%.0f times the plain read; bounds 500 ms (%s), 1 KB a node (%s), 1 ms (%s)",
                  loadMs / floorMs, Verdict(loadMs < 500), Verdict(perNode < 1024),
                  Verdict(slowestSampleMs < 1));
    TableRow(what, ours, peer, ratio);
    return 0;
}
