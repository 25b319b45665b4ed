#include "engine/TextFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string_view>

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

std::string Columns(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string printed;
        for (std::size_t i = 0; i < row.size(); ++i) {
            printed += row[i];
            if (i + 1 < row.size()) {
                printed += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        text += printed.substr(0, printed.find_last_not_of(' ') + 1) + '\n';
    }
    return text;
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

std::string CsvTextCell(const std::string& text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
        return CsvCell("'" + text);
    }
    return CsvCell(text);
}

std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& text)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) {
            line += ',';
        }
        line += i < text.size() && text[i] ? CsvTextCell(cells[i]) : CsvCell(cells[i]);
    }
    return line + '\n';
}

std::string OneLine(const std::string& text)
{
    std::string line;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            line += Format("\\x%02x", byte);
        } else {
            line += c;
        }
    }
    return line;
}

std::string CsvLine(const std::vector<std::string>& cells) { return CsvLine(cells, {}); }

}  // namespace tarnwell::text
