#include "jsonl.h"

#include <gtest/gtest.h>

#include <fstream>

namespace zorvik::test {

namespace {

class Parser {
  public:
    explicit Parser(std::string_view s) : s_(s) {}

    bool record(JsonRecord& out) {
        if (!expect('{')) return false;
        if (peek() == '}') return ++i_, at_end();
        for (;;) {
            std::string key;
            if (!string(key) || !expect(':')) return false;
            if (peek() == '{') {
                auto& inner = out.objects[key];
                if (!object(inner)) return false;
            } else {
                std::string value;
                if (!scalar(value)) return false;
                out.scalars[key] = value;
            }
            if (peek() == ',') {
                ++i_;
                continue;
            }
            return expect('}') && at_end();
        }
    }

  private:
    void ws() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
    }
    char peek() {
        ws();
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    bool expect(char c) {
        if (peek() != c) return false;
        ++i_;
        return true;
    }
    bool at_end() {
        ws();
        return i_ == s_.size();
    }

    bool object(std::map<std::string, std::string>& out) {
        if (!expect('{')) return false;
        if (peek() == '}') return ++i_, true;
        for (;;) {
            std::string key, value;
            if (!string(key) || !expect(':') || !scalar(value)) return false;
            out[key] = value;
            if (peek() == ',') {
                ++i_;
                continue;
            }
            return expect('}');
        }
    }

    bool scalar(std::string& out) {
        const char c = peek();
        if (c == '"') return string(out);
        const std::size_t b = i_;
        while (i_ < s_.size() && s_[i_] != ',' && s_[i_] != '}' && s_[i_] != ' ') ++i_;
        out.assign(s_.substr(b, i_ - b));
        return !out.empty();
    }

    static void utf8(unsigned cp, std::string& out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool string(std::string& out) {
        if (!expect('"')) return false;
        out.clear();
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
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
                case 'u': {
                    if (i_ + 4 > s_.size()) return false;
                    unsigned cp = 0;
                    for (int k = 0; k < 4; ++k) {
                        const char h = s_[i_++];
                        cp <<= 4;
                        if (h >= '0' && h <= '9')
                            cp |= h - '0';
                        else if (h >= 'a' && h <= 'f')
                            cp |= h - 'a' + 10;
                        else if (h >= 'A' && h <= 'F')
                            cp |= h - 'A' + 10;
                        else
                            return false;
                    }
                    utf8(cp, out);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

}  // namespace

std::string JsonRecord::get(const std::string& key, const std::string& fallback) const {
    auto it = scalars.find(key);
    return it == scalars.end() ? fallback : it->second;
}

std::optional<std::string> JsonRecord::field(const std::string& object,
                                             const std::string& key) const {
    auto o = objects.find(object);
    if (o == objects.end()) return std::nullopt;
    auto it = o->second.find(key);
    if (it == o->second.end()) return std::nullopt;
    return it->second;
}

std::optional<JsonRecord> parse_json_record(std::string_view line) {
    JsonRecord r;
    Parser p(line);
    if (!p.record(r)) return std::nullopt;
    return r;
}

std::vector<JsonRecord> read_jsonl(const std::string& path) {
    std::vector<JsonRecord> out;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        ++n;
        if (line.empty() || line == "\r") continue;
        auto r = parse_json_record(line);
        EXPECT_TRUE(r.has_value()) << path << ":" << n << " is not a flat JSON record";
        if (r) out.push_back(std::move(*r));
    }
    return out;
}

}  // namespace zorvik::test
