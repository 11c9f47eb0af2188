#include "json.h"
#include "regmap/error.h"
#include <charconv>

namespace {

class Parser {
public:
    Parser(const QByteArray& text, int maxDepth) : text_(text), maxDepth_(maxDepth) {}

    JsonValue Document() {
        JsonValue value = Value(0);
        SkipBlanks();
        if (at_ != text_.size()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const char* what) const {
        throw AppError(QStringLiteral("JSON: %1 at byte %2").arg(QLatin1String(what)).arg(at_));
    }
    void SkipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }
    bool Take(char c) {
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Expect(char c, const char* what) {
        if (!Take(c)) Fail(what);
    }
    bool Word(const char* word) {
        const qsizetype n = qstrlen(word);
        if (text_.mid(at_, n) != word) return false;
        at_ += n;
        return true;
    }

    JsonValue Value(int depth) {
        if (depth > maxDepth_) Fail("nesting too deep");
        SkipBlanks();
        if (at_ >= text_.size()) Fail("a value expected");
        JsonValue value;
        const char c = text_[at_];
        if (c == '{') {
            value.kind = JsonValue::Kind::Object;
            ++at_;
            if (Take('}')) return value;
            do {
                SkipBlanks();
                if (at_ >= text_.size() || text_[at_] != '"') Fail("a member name expected");
                QString key = String();
                Expect(':', "':' expected");
                value.members.emplace_back(std::move(key), Value(depth + 1));
            } while (Take(','));
            Expect('}', "',' or '}' expected");
        } else if (c == '[') {
            value.kind = JsonValue::Kind::Array;
            ++at_;
            if (Take(']')) return value;
            do
                value.items.push_back(Value(depth + 1));
            while (Take(','));
            Expect(']', "',' or ']' expected");
        } else if (c == '"') {
            value.kind = JsonValue::Kind::String;
            value.string = String();
        } else if (Word("true")) {
            value.kind = JsonValue::Kind::Bool;
            value.boolean = true;
        } else if (Word("false")) {
            value.kind = JsonValue::Kind::Bool;
        } else if (Word("null")) {
        } else {
            value.kind = JsonValue::Kind::Number;
            value.number = Number();
        }
        return value;
    }

    double Number() {
        const qsizetype start = at_;
        auto digits = [&] {
            const qsizetype from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
                ++at_;
            return at_ > from;
        };
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (!digits()) Fail("a value expected");
        if (at_ < text_.size() && text_[at_] == '.' && (++at_, !digits())) Fail("bad number");
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (!digits()) Fail("bad number");
        }
        double number = 0;
        const auto result =
            std::from_chars(text_.constData() + start, text_.constData() + at_, number);
        if (result.ec != std::errc()) Fail("bad number");
        return number;
    }

    int Hex4() {
        if (at_ + 4 > text_.size()) Fail("bad \\u escape");
        int unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) Fail("bad \\u escape");
            unit = unit * 16 + digit;
        }
        return unit;
    }

    QString String() {
        ++at_; // the opening quote
        QString out;
        qsizetype run = at_; // start of the bytes copied as they are
        auto flush = [&] { out += QString::fromUtf8(text_.constData() + run, at_ - run); };
        for (;;) {
            if (at_ >= text_.size()) Fail("unterminated string");
            const char c = text_[at_];
            if (c == '"') {
                flush();
                ++at_;
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
            if (c != '\\') {
                ++at_;
                continue;
            }
            flush();
            if (++at_ >= text_.size()) Fail("unterminated string");
            const char e = text_[at_++];
            switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                out += QChar(static_cast<char16_t>(Hex4()));
                break;
            default:
                Fail("bad escape");
            }
            run = at_;
        }
    }

    const QByteArray& text_;
    const int maxDepth_;
    qsizetype at_ = 0;
};

void AppendEscape(std::string& out, char16_t unit) {
    static const char digits[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += digits[(unit >> shift) & 0xF];
}

} // namespace

const JsonValue* JsonValue::member(QLatin1StringView key) const {
    const JsonValue* found = nullptr;
    for (const auto& [name, value] : members)
        if (name == key) found = &value;
    return found;
}

JsonValue ParseJson(const QByteArray& text, int maxDepth) {
    return Parser(text, maxDepth).Document();
}

void AppendJsonString(std::string& out, QStringView text) {
    out += '"';
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit == '"' || unit == '\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit == '\n') {
            out += "\\n";
        } else if (unit == '\r') {
            out += "\\r";
        } else if (unit == '\t') {
            out += "\\t";
        } else if (unit < 0x20 || unit == 0x7F) {
            AppendEscape(out, unit);
        } else if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                   QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += text.mid(i, 2).toUtf8().toStdString();
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            AppendEscape(out, unit); // a lone half stays exactly that
        } else {
            out += text.mid(i, 1).toUtf8().toStdString();
        }
    }
    out += '"';
}
