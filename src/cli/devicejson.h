#pragma once
// The device tree as JSON, as vardel-dev dumps and builds it.
#include "regmap/tree.h"
#include <QJsonObject>

QJsonObject TreeToJson(const RegisterTree& tree, int version);
// Missing texts are empty; missing tree state gets the writer's defaults. Throws AppError.
void TreeFromJson(const QJsonObject& document, RegisterTree& tree);
