#include "korvane/convert/NpyHeader.h"

#include <cctype>
#include <charconv>
#include <utility>

#include "korvane/file/RawFile.h"

namespace korvane {

namespace {

bool fail(std::string* error, const std::string& why) {
    if (error) *error = why;
    return false;
}

constexpr size_t kPreambleBytes = 10;         // magic, version, 16-bit header length
constexpr size_t kMaxHeaderBytes = 1u << 16;  // far beyond any real header

// A value of the Python literal subset numpy writes.
struct Node {
    enum Kind { Dict, List, Tuple, Str, Int, Bool, None } kind = None;
    std::string str;
    int64_t num = 0;
    bool flag = false;
    std::vector<Node> items;        // a list's or tuple's; a dict's values
    std::vector<std::string> keys;  // a dict's, one per value

    const Node* get(const std::string& key) const {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
};

class LiteralParser {
public:
    explicit LiteralParser(const std::string& text) : s_(text) {}

    bool parse(Node& out) {
        if (!value(out, 0)) return false;
        skip();
        return pos_ == s_.size();
    }

private:
    static constexpr int kMaxDepth = 8;

    void skip() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\t'))
            ++pos_;
    }
    bool eat(char c) {
        skip();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool word(const char* w) {
        const size_t n = std::strlen(w);
        if (s_.compare(pos_, n, w) != 0) return false;
        pos_ += n;
        return true;
    }

    bool value(Node& out, int depth) {
        if (depth > kMaxDepth) return false;
        skip();
        if (pos_ >= s_.size()) return false;
        const char c = s_[pos_];
        if (c == '{') return sequence(out, Node::Dict, '}', depth);
        if (c == '[') return sequence(out, Node::List, ']', depth);
        if (c == '(') return sequence(out, Node::Tuple, ')', depth);
        if (c == '\'' || c == '"') {
            out.kind = Node::Str;
            return string(out.str);
        }
        if (word("True")) {
            out.kind = Node::Bool;
            out.flag = true;
            return true;
        }
        if (word("False")) {
            out.kind = Node::Bool;
            return true;
        }
        if (word("None")) {
            out.kind = Node::None;
            return true;
        }
        out.kind = Node::Int;
        size_t end = pos_;
        while (end < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[end])) ||
                                   (end == pos_ && s_[end] == '-')))
            ++end;
        auto [p, ec] = std::from_chars(s_.data() + pos_, s_.data() + end, out.num);
        if (ec != std::errc() || p != s_.data() + end || end == pos_) return false;
        pos_ = end;
        return true;
    }

    bool string(std::string& out) {
        const char quote = s_[pos_++];
        while (pos_ < s_.size() && s_[pos_] != quote) {
            if (s_[pos_] == '\\') return false;  // numpy's field names and types need none
            out += s_[pos_++];
        }
        if (pos_ >= s_.size()) return false;
        ++pos_;
        return true;
    }

    bool sequence(Node& out, Node::Kind kind, char close, int depth) {
        out.kind = kind;
        ++pos_;
        while (true) {
            if (eat(close)) return true;
            if (kind == Node::Dict) {
                Node key;
                if (!value(key, depth + 1) || key.kind != Node::Str || !eat(':')) return false;
                out.keys.push_back(key.str);
                out.items.emplace_back();
                if (!value(out.items.back(), depth + 1)) return false;
            } else {
                out.items.emplace_back();
                if (!value(out.items.back(), depth + 1)) return false;
            }
            if (eat(close)) return true;
            if (!eat(',')) return false;
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
};

// '<u2', '|i1', '<i8', ...: an integer type we read, or a padding '|Vn'.
bool parseType(const std::string& t, NpyField& field, size_t& padBytes) {
    padBytes = 0;
    if (t.size() < 3) return false;
    const char order = t[0];
    const char kind = t[1];
    unsigned n = 0;
    auto [p, ec] = std::from_chars(t.data() + 2, t.data() + t.size(), n);
    if (ec != std::errc() || p != t.data() + t.size() || n == 0) return false;
    if (kind == 'V') {
        if (n > 4096) return false;
        padBytes = n;
        return true;
    }
    if (kind == 'b' && n == 1) {  // numpy's bool: one byte, 0 or 1
        field.bytes = 1;
        field.isSigned = false;
        return true;
    }
    if (kind != 'u' && kind != 'i') return false;
    if (n != 1 && n != 2 && n != 4 && n != 8) return false;
    if (n > 1 && order != '<' && order != '=' && order != '>') return false;
    field.bytes = n;
    field.isSigned = kind == 'i';
    field.bigEndian = n > 1 && order == '>';
    return true;
}

}  // namespace

std::string npyHeader(const std::string& descr, uint64_t count) {
    std::string dict = "{'descr': " + descr + ", 'fortran_order': False, 'shape': (" +
                       std::to_string(count) + ",), }";
    // Room for the longest count, then spaces to a multiple of 64 bytes.
    const size_t longest = dict.size() - std::to_string(count).size() + 20;
    const size_t total = (kPreambleBytes + longest + 1 + 63) / 64 * 64;
    dict.append(total - kPreambleBytes - 1 - dict.size(), ' ');
    dict += '\n';
    const size_t len = dict.size();
    std::string out("\x93NUMPY\x01\x00", 8);
    out += char(len & 0xFF);
    out += char(len >> 8);
    return out + dict;
}

bool parseNpyDict(const std::string& text, const std::vector<std::string>& fieldNames,
                  NpyLayout& layout, std::string* error) {
    Node dict;
    if (!LiteralParser(text).parse(dict) || dict.kind != Node::Dict) {
        return fail(error, "unreadable .npy header");
    }
    const Node* descr = dict.get("descr");
    const Node* order = dict.get("fortran_order");
    const Node* shape = dict.get("shape");
    if (!descr || !order || !shape)
        return fail(error, ".npy header lacks descr, fortran_order or shape");
    if (order->kind != Node::Bool || order->flag)
        return fail(error, "Fortran-order .npy arrays are not read");
    if (shape->kind != Node::Tuple || shape->items.size() != 1 ||
        shape->items[0].kind != Node::Int || shape->items[0].num < 0) {
        return fail(error, "not a one-dimensional array");
    }
    if (descr->kind != Node::List) return fail(error, "not a structured array");
    layout.fields.assign(fieldNames.size(), NpyField{});
    std::vector<bool> found(fieldNames.size(), false);
    size_t offset = 0;
    for (const Node& f : descr->items) {
        if (f.kind != Node::Tuple || f.items.size() != 2 || f.items[0].kind != Node::Str ||
            f.items[1].kind != Node::Str) {
            return fail(error, "unsupported field in the .npy layout");
        }
        NpyField field;
        size_t pad = 0;
        if (!parseType(f.items[1].str, field, pad)) {
            return fail(error, "field '" + f.items[0].str + "' has type " + f.items[1].str +
                                   ", not an integer");
        }
        if (pad) {
            offset += pad;
            continue;
        }
        field.offset = offset;
        offset += field.bytes;
        for (size_t k = 0; k < fieldNames.size(); ++k) {
            if (fieldNames[k] == f.items[0].str) {
                if (found[k]) return fail(error, "field '" + fieldNames[k] + "' twice");
                found[k] = true;
                layout.fields[k] = field;
            }
        }
    }
    for (size_t k = 0; k < fieldNames.size(); ++k)
        if (!found[k]) return fail(error, "no field '" + fieldNames[k] + "'");
    layout.itemBytes = offset;
    layout.count = uint64_t(shape->items[0].num);
    return true;
}

bool readNpyLayout(const RawFile& file, const std::vector<std::string>& fieldNames,
                   NpyLayout& layout, std::string* error) {
    uint8_t pre[12] = {};
    if (file.readAt(0, pre, kPreambleBytes) != kPreambleBytes ||
        std::memcmp(pre, "\x93NUMPY", 6) != 0) {
        return fail(error, "not a .npy file");
    }
    size_t headerBytes = 0;
    size_t preamble = kPreambleBytes;
    if (pre[6] == 1) {
        headerBytes = size_t(pre[8]) | size_t(pre[9]) << 8;
    } else if (pre[6] == 2 || pre[6] == 3) {
        if (file.readAt(0, pre, 12) != 12) return fail(error, "truncated .npy header");
        headerBytes =
            size_t(pre[8]) | size_t(pre[9]) << 8 | size_t(pre[10]) << 16 | size_t(pre[11]) << 24;
        preamble = 12;
    } else {
        return fail(error, "unknown .npy version " + std::to_string(pre[6]));
    }
    if (headerBytes > kMaxHeaderBytes) return fail(error, ".npy header too long");
    std::string text(headerBytes, '\0');
    if (file.readAt(preamble, reinterpret_cast<uint8_t*>(text.data()), headerBytes) !=
        headerBytes) {
        return fail(error, "truncated .npy header");
    }
    if (!parseNpyDict(text, fieldNames, layout, error)) return false;
    layout.dataOffset = preamble + headerBytes;
    const uint64_t data = file.size() - layout.dataOffset;  // >= 0: the header was read
    if (layout.itemBytes == 0 || layout.count > data / layout.itemBytes ||
        layout.count * layout.itemBytes != data) {
        return fail(error, "the file's length (" + std::to_string(file.size()) +
                               " bytes) does not match its shape of " +
                               std::to_string(layout.count) + " records");
    }
    return true;
}

}  // namespace korvane
