#pragma once
// The device tree as JSON, as vardel-dev dumps and builds it.
#include "regmap/tree.h"
#include <QByteArray>
#include <functional>
#include <string_view>

// Writes {"version": N, "nodes": [...]} piece by piece to the sink, never the whole text at
// once: a big tree is dumped in little more memory than the tree itself.
void WriteTreeJson(const RegisterTree& tree, int version,
                   const std::function<void(std::string_view)>& sink);
// Missing texts are empty; missing tree state gets the writer's defaults. Accepts trees as
// deep as the device file reader does. Throws AppError.
void TreeFromJson(const QByteArray& json, RegisterTree& tree);
