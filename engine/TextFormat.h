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

// Rows of cells as aligned columns, two spaces apart, with no trailing spaces: terminal tables.
std::string Columns(const std::vector<std::vector<std::string>>& rows);

// One CSV cell (RFC 4180): quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& text);

// A cell of user text (a port name, a path, a message): as CsvCell, but text that a
// spreadsheet would take for a formula (a leading =, +, -, @, tab or CR) gets a leading ' so
// that it is shown, never evaluated. Numbers go through CsvCell, so -12.5 stays a number.
std::string CsvTextCell(const std::string& text);

// One CSV record of cells already formatted, ended by a newline.
std::string CsvLine(const std::vector<std::string>& cells);

// One record whose cells are each CsvTextCell (true) or CsvCell (false), as text[i] says.
std::string CsvLine(const std::vector<std::string>& cells, const std::vector<bool>& text);

// Text for one line of a terminal: a control character (a newline in a file name) as \n,
// \r, \t or \xNN, a backslash doubled, so that every row stays one line.
std::string OneLine(const std::string& text);

}  // namespace tarnwell::text
