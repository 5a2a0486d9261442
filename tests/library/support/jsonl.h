// A small reader for JSON-line files of flat records: one object per line
// whose values are strings, numbers, literals or one level of nested objects
// of such scalars (the reference decodes beside the receiver logs).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvik::test {

struct JsonRecord {
    // Scalars by key: strings unescaped, numbers and literals as written.
    std::map<std::string, std::string> scalars;
    // Nested objects by key, each a map of its scalars.
    std::map<std::string, std::map<std::string, std::string>> objects;

    bool has(const std::string& key) const { return scalars.count(key) || objects.count(key); }
    // The scalar, or fallback when absent.
    std::string get(const std::string& key, const std::string& fallback = "") const;
    // A scalar of a nested object; nullopt when the object or key is absent.
    std::optional<std::string> field(const std::string& object, const std::string& key) const;
};

// Parses one line; nullopt when it is not such a record.
std::optional<JsonRecord> parse_json_record(std::string_view line);

// Every record of a file, in order; a line that does not parse fails the
// calling test and is skipped.
std::vector<JsonRecord> read_jsonl(const std::string& path);

}  // namespace zorvik::test
