// Helpers for the writer's tests (writer, labels, copies, cli): numbering
// hand-built or corpus files, reading objects back out of an output through
// its cross-reference table, and the outside checkers qpdf and pdftotext.
#ifndef WRITER_SUPPORT_H
#define WRITER_SUPPORT_H

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dedediruzurud.h"
#include "support.h"

// Numbers every page of the PDF bytes `input` with dedediruzurud_add; the
// output's bytes, or "" with *error set.
inline std::string number_all(const std::string &input, const char *format = "{n}", int position = 0,
                              int size = 12, int first = 1, std::string *error = nullptr) {
    std::string in = temp_path("in.pdf"), out = temp_path("out.pdf");
    write_file(in, input);
    if (!dedediruzurud_add(in.c_str(), out.c_str(), position, format, size, first, 0, 0, 0)) {
        if (error) *error = dedediruzurud_last_error();
        return "";
    }
    return read_file(out);
}

// The names in dir, hidden ones left out, sorted.
inline std::vector<std::string> dir_entries(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A new, empty directory in the scratch directory.
inline std::string fresh_dir(const std::string &name) {
    std::string dir = temp_path(name);
    mkdir(dir.c_str(), 0755);
    return dir;
}

// A one-level page tree: object 1 catalog, 2 Pages (with pages_extra), and
// for every page dictionary its object 3 + i; `more` follows as objects
// 3 + pages.size() onwards.
inline std::string pages_pdf(const std::vector<std::string> &page_dicts,
                             const std::vector<std::string> &more = {},
                             const std::string &pages_extra = "") {
    std::vector<std::string> bodies = {"<< /Type /Catalog /Pages 2 0 R >>"};
    std::string kids;
    for (size_t i = 0; i < page_dicts.size(); ++i) kids += (i ? " " : "") + std::to_string(3 + i) + " 0 R";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(page_dicts.size()) +
                     pages_extra + " >>");
    for (const auto &p : page_dicts) bodies.push_back("<< /Type /Page /Parent 2 0 R " + p + " >>");
    for (const auto &m : more) bodies.push_back(m);
    return make_pdf(bodies);
}

// The xref offsets of an output (entry k at index k), empty when the
// table cannot be read.
inline std::vector<long> xref_offsets(const std::string &pdf) {
    size_t sx = pdf.rfind("startxref ");
    if (sx == std::string::npos) return {};
    long x = std::stol(pdf.substr(sx + 10));
    if (x < 0 || static_cast<size_t>(x) >= pdf.size() || pdf.compare(x, 7, "xref\n0 ") != 0) return {};
    size_t p = static_cast<size_t>(x) + 7;
    long n = std::stol(pdf.substr(p));
    p = pdf.find('\n', p) + 1;
    std::vector<long> offs;
    for (long k = 0; k < n; ++k, p += 20) offs.push_back(std::stol(pdf.substr(p, 10)));
    return offs;
}

// Object num of an output, from "num 0 obj\n" through "endobj\n", found
// through the cross-reference table; "" when the entry is wrong.
inline std::string object_at(const std::string &pdf, int num) {
    std::vector<long> offs = xref_offsets(pdf);
    if (num <= 0 || static_cast<size_t>(num) >= offs.size()) return "";
    std::string head = std::to_string(num) + " 0 obj\n";
    size_t at = static_cast<size_t>(offs[static_cast<size_t>(num)]);
    if (pdf.compare(at, head.size(), head) != 0) return "";
    size_t end = pdf.find("endobj\n", at);
    return end == std::string::npos ? "" : pdf.substr(at, end + 7 - at);
}

// qpdf --check: "" when it found no error and no warning, else its report.
inline std::string qpdf_problems(const std::string &path) {
    if (!have_tool("qpdf")) return "";
    std::string out;
    int rc = run_command("qpdf --check '" + path + "' 2>&1", &out);
    if (rc == 0 && out.find("WARNING") == std::string::npos) return "";
    return out;
}

inline std::string qpdf_problems_bytes(const std::string &pdf) {
    std::string path = temp_path("check.pdf");
    write_file(path, pdf);
    return qpdf_problems(path);
}

// The text of each page as pdftotext extracts it.
inline std::vector<std::string> page_texts(const std::string &path) {
    std::string out;
    run_command("pdftotext -q '" + path + "' - 2>/dev/null", &out);
    std::vector<std::string> pages;
    size_t start = 0;
    for (size_t ff; (ff = out.find('\f', start)) != std::string::npos; start = ff + 1)
        pages.push_back(out.substr(start, ff - start));
    return pages;
}

inline int count_of(const std::string &hay, const std::string &needle) {
    int n = 0;
    for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
    return n;
}

// A rendered page as 8-bit RGB.
struct image {
    int w = 0, h = 0;
    std::string rgb;
};

inline image render(const std::string &pdf, int page, bool cropbox, int dpi = 12) {
    std::string prefix = temp_path("render");
    run_command("pdftoppm -q -r " + std::to_string(dpi) + " " + std::string(cropbox ? "-cropbox " : "") + "-singlefile -f " +
                std::to_string(page) + " -l " + std::to_string(page) + " '" + pdf + "' '" + prefix + "'");
    std::string ppm = read_file(prefix + ".ppm");
    image im;
    int maxval = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &im.w, &im.h, &maxval, &used) == 3 && maxval == 255)
        im.rgb = ppm.substr(static_cast<size_t>(used) + 1);
    return im;
}

// Share of pixels that differ clearly between two renderings.
inline double differing_share(const image &a, const image &b) {
    if (a.w != b.w || a.h != b.h || a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1;
    size_t n = 0;
    for (size_t i = 0; i + 2 < a.rgb.size(); i += 3)
        for (size_t k = 0; k < 3; ++k)
            if (std::abs(static_cast<unsigned char>(a.rgb[i + k]) - static_cast<unsigned char>(b.rgb[i + k])) > 80) {
                ++n;
                break;
            }
    return static_cast<double>(n) / (a.rgb.size() / 3);
}

// A word's box as pdftotext -bbox reports it, with its page's size.
struct word_box {
    double x_min, y_min, x_max, y_max;
    double page_w, page_h;
    bool found = false;
};

// The first word starting with `word` on page `page` (1-based), from
// pdftotext -bbox (y grows downwards from the top of the page as seen).
inline word_box find_word(const std::string &pdf_path, int page, const std::string &word) {
    std::string html;
    run_command("pdftotext -q -bbox -f " + std::to_string(page) + " -l " + std::to_string(page) + " '" +
                    pdf_path + "' - 2>/dev/null",
                &html);
    word_box b{};
    size_t pg = html.find("<page width=\"");
    if (pg == std::string::npos) return b;
    std::sscanf(html.c_str() + pg, "<page width=\"%lf\" height=\"%lf\"", &b.page_w, &b.page_h);
    size_t at = html.find(">" + word);
    if (at == std::string::npos) return b;
    size_t open = html.rfind("<word", at);
    b.found = std::sscanf(html.c_str() + open, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\"",
                          &b.x_min, &b.y_min, &b.x_max, &b.y_max) == 4;
    return b;
}

#endif
