#include "devicejson.h"
#include "json.h"
#include "regmap/devicefile.h"
#include "regmap/error.h"
#include <QStringList>
#include <iterator>
#include <string>

namespace {

// JSON keys of the record's texts, in the record's field order.
const char* const kTextKeys[std::size(kRecordTexts)] = {"name",  "note",   "address", "type",
                                                        "count", "access", "value"};

std::string Decimal(int number) {
    return QByteArray::number(number).toStdString();
}

class TreeWriter {
public:
    explicit TreeWriter(const std::function<void(std::string_view)>& sink) : sink_(sink) {}

    void Node(const TreeNode& node, int depth) {
        const std::string indent(2 * depth + 2, ' ');
        out_ += indent + "{";
        for (std::size_t f = 0; f < std::size(kRecordTexts); ++f) {
            out_ += f == 0 ? "\"" : ", \"";
            out_ += kTextKeys[f];
            out_ += "\": ";
            AppendJsonString(out_, node.record.*kRecordTexts[f]);
        }
        out_ += ", \"states\": " + Decimal(node.states);
        out_ += ", \"height\": " + Decimal(node.height);
        out_ += ", \"alignment\": " + Decimal(node.alignment);
        out_ += ", \"checkState\": " + Decimal(node.checkState);
        out_ += ", \"checkKind\": " + Decimal(node.checkKind);
        out_ += ", \"children\": [";
        if (!node.children().empty()) {
            out_ += '\n';
            List(node.children(), depth + 1);
            out_ += indent;
        }
        out_ += "]}";
        Flush();
    }

    template <typename Nodes> void List(const Nodes& nodes, int depth) {
        bool first = true;
        for (const auto& child : nodes) {
            if (!first) out_ += ",\n";
            first = false;
            Node(*child, depth);
        }
        out_ += '\n';
    }

    void Text(std::string_view text) { out_ += text; }
    void Flush() {
        if (out_.size() < 65536) return;
        sink_(out_);
        out_.clear();
    }
    void Finish() {
        sink_(out_);
        out_.clear();
    }

private:
    const std::function<void(std::string_view)>& sink_;
    std::string out_;
};

int Number(const JsonValue& object, const char* key, int fallback, int maximum) {
    const JsonValue* value = object.member(QLatin1StringView(key));
    if (!value) return fallback;
    const double number = value->number;
    if (value->kind != JsonValue::Kind::Number || number < 0 || number > maximum ||
        number != static_cast<int>(number))
        throw AppError(QStringLiteral("\"%1\": potrzebna liczba całkowita od 0 do %2")
                           .arg(QLatin1String(key))
                           .arg(maximum));
    return static_cast<int>(number);
}

const std::vector<JsonValue>& Children(const JsonValue& object) {
    static const std::vector<JsonValue> none;
    const JsonValue* children = object.member(QLatin1StringView("children"));
    return children && children->kind == JsonValue::Kind::Array ? children->items : none;
}

const char* const kNodeKeys[] = {"children",  "states",     "height",
                                 "alignment", "checkState", "checkKind"};

// A misspelt key ("adress") would build an empty field that fails only when the register is
// read: every key must be one a node has, and a text must be a text.
void CheckKeys(const JsonValue& object, const QString& path) {
    QStringList known;
    for (const char* key : kTextKeys)
        known << QLatin1String(key);
    for (const char* key : kNodeKeys)
        known << QLatin1String(key);
    for (const auto& [key, value] : object.members) {
        if (!known.contains(key))
            throw AppError(QStringLiteral("nieznany klucz \"%1\" w %2 (węzeł zna: %3)")
                               .arg(key, path, known.join(QStringLiteral(", "))));
        if (known.indexOf(key) < qsizetype(std::size(kTextKeys)) &&
            value.kind != JsonValue::Kind::String)
            throw AppError(QStringLiteral("\"%1\" w %2 musi być tekstem").arg(key, path));
    }
}

void NodeFromJson(const JsonValue& object, TreeNode& node, int depth, const QString& path) {
    if (object.kind != JsonValue::Kind::Object)
        throw AppError(QStringLiteral("węzeł musi być obiektem JSON"));
    if (depth > kMaxTreeDepth)
        throw AppError(QStringLiteral("drzewo jest zagnieżdżone zbyt głęboko"));
    CheckKeys(object, path);
    for (std::size_t f = 0; f < std::size(kRecordTexts); ++f) {
        const JsonValue* text = object.member(QLatin1StringView(kTextKeys[f]));
        node.record.*kRecordTexts[f] = text ? text->string : QString();
    }
    const std::vector<JsonValue>& children = Children(object);
    const int defaultStates = NodeState::Initialized | NodeState::Visible |
                              (children.empty() ? 0 : NodeState::HasChildren);
    node.states = static_cast<std::uint16_t>(Number(object, "states", defaultStates, 0xFFFF));
    node.height = static_cast<std::uint16_t>(Number(object, "height", 18, 0xFFFF));
    node.alignment = static_cast<std::uint8_t>(Number(object, "alignment", 0, 255));
    node.checkState = static_cast<std::uint8_t>(Number(object, "checkState", 0, 255));
    node.checkKind = static_cast<std::uint8_t>(Number(object, "checkKind", 0, 255));
    for (std::size_t i = 0; i < children.size(); ++i)
        NodeFromJson(children[i], *node.appendChild(), depth + 1,
                     path + QStringLiteral(".children[%1]").arg(i));
}

} // namespace

void WriteTreeJson(const RegisterTree& tree, int version,
                   const std::function<void(std::string_view)>& sink) {
    TreeWriter writer(sink);
    writer.Text("{\"version\": " + Decimal(version) + ", \"nodes\": [\n");
    writer.List(tree.topLevel(), 0);
    writer.Text("]}\n");
    writer.Finish();
}

void TreeFromJson(const QByteArray& json, RegisterTree& tree) {
    // Each level of the tree is an object and its children's array.
    const JsonValue document = ParseJson(json, 2 * kMaxTreeDepth + 4);
    if (document.kind != JsonValue::Kind::Object)
        throw AppError(QStringLiteral("to nie jest obiekt JSON"));
    tree.clear();
    const JsonValue* nodes = document.member(QLatin1StringView("nodes"));
    if (!nodes || nodes->kind != JsonValue::Kind::Array) return;
    for (std::size_t i = 0; i < nodes->items.size(); ++i)
        NodeFromJson(nodes->items[i], *tree.appendTopLevel(), 0,
                     QStringLiteral("nodes[%1]").arg(i));
}
