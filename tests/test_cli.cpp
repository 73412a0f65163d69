// The command-line tool: options, their mapping onto the three entry
// points, usage errors (exit 2) and the library's failures (exit 1).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "writer_support.h"

#ifndef DEDEDIRUZURUD_CLI
#define DEDEDIRUZURUD_CLI "dedediruzurud"
#endif

namespace {

using strings = std::vector<std::string>;

std::string quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct run_result {
    int status;
    std::string output;  // stdout and stderr together
};

run_result cli(const strings &args, const std::string &prefix = "") {
    std::string cmd = prefix + quote(DEDEDIRUZURUD_CLI);
    for (const auto &a : args) cmd += " " + quote(a);
    run_result r;
    r.status = run_command(cmd + " 2>&1", &r.output);
    return r;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        in = temp_path("in.pdf");
        out = temp_path("out.pdf");
        write_file(in, simple_pdf(4));
    }
    // The label texts of the output's four pages ("" when unlabelled).
    strings labels() {
        std::string pdf = read_file(out);
        strings v;
        for (int i = 0; i < 4; ++i) {
            std::string c = object_at(pdf, 5 + 3 * i);
            size_t t = c.find(") Tj"), o = c.rfind('(', t);
            v.push_back(t == std::string::npos ? "" : c.substr(o + 1, t - o - 1));
        }
        return v;
    }
    std::string in, out;
};

TEST_F(Cli, HelpNamesEveryOption) {
    run_result r = cli({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *word : {"Usage: dedediruzurud [options] INPUT.pdf OUTPUT.pdf", "--format", "{n}", "{total}",
                             "--position", "bottom-center", "bottom-right", "bottom-left", "top-center",
                             "top-right", "top-left", "--size", "--color", "R,G,B", "#rrggbb", "--first", "--pages",
                             "FROM-TO", "--skip", "--help", "--version", "Exit status"})
        EXPECT_NE(r.output.find(word), std::string::npos) << word;
    EXPECT_EQ(cli({"-h"}).output, r.output);
}

TEST_F(Cli, Version) {
    run_result r = cli({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "dedediruzurud 1.0.0\n");
}

TEST_F(Cli, DefaultsNumberEveryPage) {
    run_result r = cli({in, out});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(labels(), (strings{"1", "2", "3", "4"}));
    EXPECT_NE(object_at(read_file(out), 5).find("/PN 12 Tf\n0 0 0 rg\n"), std::string::npos);
    EXPECT_EQ(qpdf_problems(out), "");
}

struct mapping_case {
    const char *name;
    strings options;
    strings labels;
    const char *in_stream;  // a piece of page 1's content stream
};

const mapping_case kMappings[] = {
    {"format", {"--format", "Page {n} of {total}"}, {"Page 1 of 4", "Page 2 of 4", "Page 3 of 4", "Page 4 of 4"}, ""},
    {"formatEquals", {"--format=-{n}-"}, {"-1-", "-2-", "-3-", "-4-"}, ""},
    {"first", {"--first", "-2"}, {"-2", "-1", "0", "1"}, ""},
    {"pages", {"--pages", "2-3"}, {"", "1", "2", ""}, ""},
    {"pagesWithFirst", {"--pages=2-3", "--first=10"}, {"", "10", "11", ""}, ""},
    {"pagesOpenEnd", {"--pages", "3-"}, {"", "", "1", "2"}, ""},
    {"pagesOpenStart", {"--pages", "-2"}, {"1", "2", "", ""}, ""},
    {"pagesSingle", {"--pages", "4"}, {"", "", "", "1"}, ""},
    {"pagesBeyondEnd", {"--pages", "3-99"}, {"", "", "1", "2"}, ""},
    {"skip", {"--skip", "1"}, {"", "1", "2", "3"}, ""},
    {"positionName", {"--position", "top-left"}, {"1", "2", "3", "4"}, "18.3600 759.2400 Td"},
    {"positionCode", {"--position", "5"}, {"1", "2", "3", "4"}, "18.3600 759.2400 Td"},
    {"positionRight", {"--position=bottom-right"}, {"1", "2", "3", "4"}, "586.9680 21.2400 Td"},
    {"size", {"--size", "20"}, {"1", "2", "3", "4"}, "/PN 20 Tf"},
    {"colorTriple", {"--color", "255,0,128"}, {"1", "2", "3", "4"}, "1 0 0.5020 rg"},
    {"colorHex", {"--color", "#FF0080"}, {"1", "2", "3", "4"}, "1 0 0.5020 rg"},
    {"endOfOptions", {"--"}, {"1", "2", "3", "4"}, ""},
};

class CliMapping : public Cli, public ::testing::WithParamInterface<mapping_case> {};

TEST_P(CliMapping, OptionsReachTheLibrary) {
    const mapping_case &c = GetParam();
    strings args = c.options;
    args.push_back(in);
    args.push_back(out);
    run_result r = cli(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(labels(), c.labels);
    std::string first_stream = object_at(read_file(out), 5);
    EXPECT_NE(first_stream.find(c.in_stream), std::string::npos) << first_stream;
}

INSTANTIATE_TEST_SUITE_P(Options, CliMapping, ::testing::ValuesIn(kMappings),
                         [](const auto &info) { return std::string(info.param.name); });

struct usage_case {
    const char *name;
    strings args;  // "IN" and "OUT" stand for the test's files
    const char *message;
};

const usage_case kUsage[] = {
    {"nothing", {}, "expected INPUT.pdf and OUTPUT.pdf"},
    {"oneFile", {"IN"}, "expected INPUT.pdf and OUTPUT.pdf"},
    {"threeFiles", {"IN", "OUT", "extra"}, "unexpected argument 'extra'"},
    {"unknownOption", {"--colour", "1,2,3", "IN", "OUT"}, "unknown option '--colour'"},
    {"unknownWithValue", {"--bogus=1", "IN", "OUT"}, "unknown option '--bogus'"},
    {"missingValue", {"IN", "OUT", "--size"}, "option --size needs a value"},
    {"sizeNotNumber", {"--size", "12pt", "IN", "OUT"}, "option --size needs a whole number, not '12pt'"},
    {"firstTooLarge", {"--first", "99999999999", "IN", "OUT"}, "option --first needs a whole number, not '99999999999'"},
    {"colorTwoParts", {"--color", "1,2", "IN", "OUT"}, "option --color needs R,G,B or #rrggbb, not '1,2'"},
    {"colorBadHex", {"--color", "#12345g", "IN", "OUT"}, "option --color needs R,G,B or #rrggbb, not '#12345g'"},
    {"colorShortHex", {"--color", "#fff", "IN", "OUT"}, "option --color needs R,G,B or #rrggbb, not '#fff'"},
    {"pagesLetters", {"--pages", "a-b", "IN", "OUT"}, "option --pages needs FROM-TO, FROM-, -TO or N, not 'a-b'"},
    {"pagesDashOnly", {"--pages", "-", "IN", "OUT"}, "option --pages needs FROM-TO, FROM-, -TO or N, not '-'"},
    {"positionName", {"--position", "middle", "IN", "OUT"},
     "unknown position 'middle' (use 0-5 or bottom-center, bottom-right, bottom-left, top-center, top-right, "
     "top-left)"},
    {"skipAndPages", {"--skip", "1", "--pages", "2-3", "IN", "OUT"}, "--skip and --pages cannot be used together"},
    {"skipAndFirst", {"--skip", "1", "--first", "5", "IN", "OUT"},
     "--first cannot be used with --skip (numbering after skipped pages starts at 1)"},
};

class CliUsage : public Cli, public ::testing::WithParamInterface<usage_case> {};

TEST_P(CliUsage, ExitTwoWithAHint) {
    strings args;
    for (const auto &a : GetParam().args) args.push_back(a == "IN" ? in : a == "OUT" ? out : a);
    run_result r = cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, std::string("dedediruzurud: ") + GetParam().message +
                            "\nTry 'dedediruzurud --help' for more information.\n");
    EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsage),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(Cli, LibraryFailuresExitOne) {
    struct {
        strings options;
        std::string message;
    } cases[] = {
        {{"--position", "7"}, "position must be 0..5 (got 7)"},
        {{"--color", "300,0,0"}, "colour components must be 0..255"},
        {{"--pages", "3-2"}, "range 3..2 is empty (document has 4 pages)"},
        {{"--skip", "4"}, "skip_pages 4 >= page count 4 \xE2\x80\x94 nothing to number"},
    };
    for (const auto &c : cases) {
        strings args = c.options;
        args.push_back(in);
        args.push_back(out);
        run_result r = cli(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "dedediruzurud: " + c.message + "\n");
        EXPECT_FALSE(file_exists(out));
    }
    std::string missing = temp_path("missing.pdf");
    run_result r = cli({missing, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "dedediruzurud: cannot open " + missing + "\n");
}

// A write cut short (here by a file size limit) leaves neither the output
// nor a temporary file behind, and says so.
TEST_F(Cli, ShortWriteLeavesNothingBehind) {
    std::string dir = temp_path("limited");
    mkdir(dir.c_str(), 0755);
    std::string big = dir + "/big.pdf", target = dir + "/out.pdf";
    write_file(big, simple_pdf(400, 612, 792, std::string(2000, ' ') + "0 0 m 1 1 l S"));
    // A limit of 1000 blocks of 512 bytes; SIGXFSZ ignored so write() fails instead.
    run_result r = cli({big, target}, "trap '' XFSZ; ulimit -f 1000; exec ");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "dedediruzurud: short write to " + target + "\n");
    strings names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    EXPECT_EQ(names, strings{"big.pdf"});
}

TEST_F(Cli, OutputOntoTheInput) {
    run_result r = cli({"--format", "p{n}", in, in});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(qpdf_problems(in), "");
    EXPECT_NE(read_file(in).find("(p4) Tj"), std::string::npos);
}

TEST_F(Cli, CorpusFileWithLabelsOnEveryPage) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    std::string src = corpus_file("pymupdf-created-rotations.pdf");
    run_result r = cli({"--format", "Seite {n}/{total}", "--position", "top-right", "--color", "#336699", src, out});
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> pages = page_texts(out);
    ASSERT_EQ(pages.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_NE(pages[i].find("Seite " + std::to_string(i + 1) + "/6"), std::string::npos) << i;
}

}  // namespace
