// The one text formatter, number formatter and CSV writer that every output shares: reports,
// findings, JSON, summaries and the views' tables.
#pragma once

#include <string>
#include <vector>

namespace tarnwell::text {

// printf-style formatting into a string of whatever length the text needs.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "NaN", "Infinity" or "-Infinity" for a value that is not finite (the spellings JSON readers
// accept), nullptr for a finite one.
const char* NonFiniteName(double value);

// The shortest decimal that reads back to the same double; non-finite values by name.
std::string Number(double value);

// One CSV cell (RFC 4180): quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& text);

// One CSV record of cells already formatted, ended by a newline.
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace tarnwell::text
