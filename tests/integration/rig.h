#pragma once
// The engine, its tools and the real serial link, ready for a simulator.
#include "link/serial.h"
#include "regmap/devicefile.h"
#include "simulator.h"
#include "tools/session.h"
#include "txn/fakes.h"

namespace {

// The log lines of a walk of TR100.dat's "Pomiary" group, the simulator's initial values.
[[maybe_unused]] QStringList MeasurementGroupLines() {
    return {QString::fromUtf8("100  Temperatura23,50"),
            QString::fromUtf8("102  Ciśnienie  1013,25"), QString::fromUtf8("104  Przesunięci-12"),
            QString::fromUtf8("106  Współczynni0,1000000015"),
            QString::fromUtf8("108  Status     $03")};
}

// The operator's session over the real link on one simulator; reconnects to another.
struct Bench {
    SerialLink link;
    RecordingFrontend ui;
    OperatorSession session{link, ui};
    RegisterTree& tree = session.tree();
    TransactionEngine& engine = session.engine();
    Calibration& calibration = session.calibration();
    Monitor& monitor = session.monitor();

    explicit Bench(const QString& device) {
        session.LoadDevice(device,
                           ReadDeviceFileBytes(qEnvironmentVariable("VARDEL_BIN") + '/' + device));
        QObject::connect(&monitor.Timer1, &QTimer::timeout, [this] { monitor.Tick(); });
    }
    bool Connect(const Simulator& sim) {
        return link.OpenPort(sim.port(), "19200,e,8,1") && link.SetPortTimeouts(30, 0, 40, 0, 30);
    }
    TreeNode* Node(const char* name) { return tree.FindNodeByName(QString::fromUtf8(name)); }
};

} // namespace
