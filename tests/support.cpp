#include "support.h"

#include <zlib.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

std::string g_captured;

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string temp_path(const std::string &name) {
    static std::string dir;
    static int counter = 0;
    if (dir.empty()) {
        char tmpl[] = "/tmp/dedediruzurud-test-XXXXXX";
        char *d = mkdtemp(tmpl);
        dir = d ? d : "/tmp";
    }
    return dir + "/" + std::to_string(++counter) + "-" + name;
}

int run_command(const std::string &cmd, std::string *out) {
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool have_tool(const std::string &name) {
    return run_command("command -v " + name + " >/dev/null 2>&1") == 0;
}

std::string corpus_file(const std::string &name) { return std::string(TEST_CORPUS_DIR) + "/" + name; }

std::string make_pdf(const std::vector<std::string> &bodies, int root, const std::string &trailer_extra) {
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offs;
    for (size_t k = 0; k < bodies.size(); ++k) {
        offs.push_back(out.size());
        out += std::to_string(k + 1) + " 0 obj\n" + bodies[k] + "\nendobj\n";
    }
    size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t o : offs) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1);
    if (root > 0) out += " /Root " + std::to_string(root) + " 0 R";
    out += trailer_extra + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

std::string stream_body(const std::string &dict_entries, const std::string &data) {
    return "<< " + dict_entries + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

static std::string num(double v) {
    char b[64];
    pdfp_fmt_f(b, sizeof b, v);
    return b;
}

std::string simple_pdf(int pages, double w, double h, const std::string &content) {
    // 1 catalog, 2 pages, then per page: page object, content stream.
    std::vector<std::string> bodies;
    bodies.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) kids += (i ? " " : "") + std::to_string(3 + 2 * i) + " 0 R";
    bodies.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        bodies.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + num(w) + " " + num(h) +
                         "] /Contents " + std::to_string(4 + 2 * i) + " 0 R >>");
        bodies.push_back(stream_body("", content));
    }
    return make_pdf(bodies);
}

std::string zlib_compress(const std::string &data, int level) {
    uLongf n = compressBound(data.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef *>(&out[0]), &n, reinterpret_cast<const Bytef *>(data.data()),
              data.size(), level);
    out.resize(n);
    return out;
}

void capture_report(const char *fmt, ...) {
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    g_captured = buf;
}

int load_bytes(const std::string &bytes, pdfp_doc *doc, std::string *msg) {
    std::string path = temp_path("in.pdf");
    write_file(path, bytes);
    g_captured.clear();
    int r = pdfp_doc_load(path.c_str(), doc, capture_report);
    if (msg) *msg = g_captured;
    return r;
}
