#include "engine/TextFormat.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace tarnwell::text {

std::string Format(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        // The terminating NUL goes into the string's own spare byte.
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

const char* NonFiniteName(double value)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0.0 ? "Infinity" : "-Infinity";
    }
    return nullptr;
}

std::string Number(double value)
{
    if (const char* name = NonFiniteName(value)) {
        return name;
    }
    char digits[32];  // the longest shortest double is 24 characters
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, error == std::errc() ? end : digits);
}

std::string CsvCell(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += CsvCell(cells[i]);
    }
    return line + '\n';
}

}  // namespace tarnwell::text
