// The manifest: RFC 4180 CSV in UTF-8, fields quoted where they hold a
// comma, a quote or a line break. The labels are expanded by the library's
// own format code, so they are what the pages print.
#include "cli_manifest.h"

#include <cstdio>

namespace {

std::string csv_field(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string csv_line(const manifest_row &row) {
    const file_numbers &n = row.numbers;
    std::string first, last;
    if (n.last_index >= n.first_index) {
        first = printed_label(row.record, n.first_number, n.total);
        last = printed_label(row.record, static_cast<int64_t>(n.first_number) + n.last_index - n.first_index, n.total);
    }
    return csv_field(row.input) + "," + csv_field(row.output) + "," + csv_field(first) + "," + csv_field(last) +
           "," + std::to_string(n.pages) + "\n";
}

}  // namespace

bool write_manifest(const char *path, const std::vector<manifest_row> &rows, std::string *error) {
    std::string text = "input,output,first,last,pages\n";
    for (const manifest_row &row : rows) text += csv_line(row);
    FILE *f = std::fopen(path, "wb");
    bool ok = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok) *error = std::string("cannot write the manifest ") + path;
    return ok;
}
