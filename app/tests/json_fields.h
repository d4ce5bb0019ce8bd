// Reading single fields back from the flat JSON object of the statistics file.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

inline std::optional<std::size_t> jsonValueStart(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t at = json.find(key);
    if (at == std::string::npos) return std::nullopt;
    return json.find_first_not_of(' ', at + key.size());
}

inline std::optional<double> jsonNumberField(const std::string& json, const std::string& name) {
    const auto start = jsonValueStart(json, name);
    if (!start) return std::nullopt;
    const char* begin = json.c_str() + *start;
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    return value;
}

// The string value with its escapes of quote and backslash undone.
inline std::optional<std::string> jsonStringField(const std::string& json,
                                                  const std::string& name) {
    const auto start = jsonValueStart(json, name);
    if (!start || json[*start] != '"') return std::nullopt;
    std::string value;
    for (std::size_t i = *start + 1; i < json.size(); ++i) {
        if (json[i] == '"') return value;
        if (json[i] == '\\' && i + 1 < json.size()) ++i;
        value += json[i];
    }
    return std::nullopt;
}

// The numbers of an array value; empty when the field is missing or no array.
inline std::vector<double> jsonNumberArray(const std::string& json, const std::string& name) {
    std::vector<double> numbers;
    const auto start = jsonValueStart(json, name);
    if (!start || json[*start] != '[') return numbers;
    const char* at = json.c_str() + *start + 1;
    while (true) {
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at) return numbers;
        numbers.push_back(value);
        at = end;
        while (*at == ' ' || *at == ',')
            ++at;
    }
}
