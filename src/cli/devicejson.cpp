#include "devicejson.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QJsonArray>

namespace {

// JSON keys of the record's texts, in the record's field order.
const char* const kTextKeys[RegisterNode::kFields] = {"name",  "note",   "address", "type",
                                                      "count", "access", "value"};

QJsonObject NodeToJson(const TreeNode& node) {
    QJsonObject object;
    for (int f = 0; f < RegisterNode::kFields; ++f)
        object[kTextKeys[f]] = node.record.text(RegisterNode::Field(f)).toString();
    object["states"] = node.states;
    object["height"] = node.height;
    object["alignment"] = node.alignment;
    object["checkState"] = node.checkState;
    object["checkKind"] = node.checkKind;
    QJsonArray children;
    for (const TreeNode* child : node.children())
        children.append(NodeToJson(*child));
    object["children"] = children;
    return object;
}

int Number(const QJsonObject& object, const char* key, int fallback, int maximum) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined()) return fallback;
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > maximum || number != int(number))
        throw AppError(QStringLiteral("\"%1\" must be a whole number from 0 to %2")
                           .arg(QLatin1String(key))
                           .arg(maximum));
    return static_cast<int>(number);
}

void NodeFromJson(const QJsonValue& value, TreeNode& node, int depth) {
    if (!value.isObject()) throw AppError(QStringLiteral("a node must be a JSON object"));
    if (depth > kMaxTreeDepth) throw AppError(QStringLiteral("the tree is nested too deeply"));
    const QJsonObject object = value.toObject();
    for (int f = 0; f < RegisterNode::kFields; ++f)
        node.record.setText(RegisterNode::Field(f), object.value(kTextKeys[f]).toString());
    const QJsonArray children = object.value("children").toArray();
    const int defaultStates = NodeState::Initialized | NodeState::Visible |
                              (children.isEmpty() ? 0 : NodeState::HasChildren);
    node.states = static_cast<std::uint16_t>(Number(object, "states", defaultStates, 0xFFFF));
    node.height = static_cast<std::uint16_t>(Number(object, "height", 18, 0xFFFF));
    node.alignment = static_cast<std::uint8_t>(Number(object, "alignment", 0, 255));
    node.checkState = static_cast<std::uint8_t>(Number(object, "checkState", 0, 255));
    node.checkKind = static_cast<std::uint8_t>(Number(object, "checkKind", 0, 255));
    for (const QJsonValue& child : children)
        NodeFromJson(child, *node.appendChild(), depth + 1);
}

} // namespace

QJsonObject TreeToJson(const RegisterTree& tree, int version) {
    QJsonArray nodes;
    for (const auto& node : tree.topLevel())
        nodes.append(NodeToJson(*node));
    return QJsonObject{{"version", version}, {"nodes", nodes}};
}

void TreeFromJson(const QJsonObject& document, RegisterTree& tree) {
    tree.clear();
    for (const QJsonValue& node : document.value("nodes").toArray())
        NodeFromJson(node, *tree.appendTopLevel(), 0);
}
