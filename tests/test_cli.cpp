// The command-line tool: options, their mapping onto the three entry
// points, usage errors (exit 2), the library's failures (exit 1), the
// label's characters, inputs that are not files, and the manual page.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

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
    // Values out of range, named before any input is read ("IN" is a FIFO
    // with no writer in these: reading it would block).
    {"positionSix", {"--position", "6", "FIFO", "OUT"}, "option --position needs a code 0-5 or a name, not '6'"},
    {"colorPastByte", {"--color", "256,0,0", "FIFO", "OUT"}, "option --color needs components 0..255, not '256,0,0'"},
    {"pagesBackwards", {"--pages", "5-3", "FIFO", "OUT"}, "option --pages needs FROM no greater than TO, not '5-3'"},
    {"pagesZero", {"--pages", "0", "FIFO", "OUT"}, "option --pages counts pages from 1, not '0'"},
    {"pagesFromZero", {"--pages", "0-3", "FIFO", "OUT"}, "option --pages counts pages from 1, not '0-3'"},
    {"skipNegative", {"--skip", "-1", "FIFO", "OUT"}, "option --skip needs 0 or more pages, not '-1'"},
};

class CliUsage : public Cli, public ::testing::WithParamInterface<usage_case> {};

TEST_P(CliUsage, ExitTwoWithAHint) {
    std::string fifo = temp_path("fifo.pdf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    strings args;
    for (const auto &a : GetParam().args) args.push_back(a == "IN" ? in : a == "OUT" ? out : a == "FIFO" ? fifo : a);
    run_result r = cli(args, "timeout 60 ");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, std::string("dedediruzurud: ") + GetParam().message +
                            "\nTry 'dedediruzurud --help' for more information.\n");
    EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(Errors, CliUsage, ::testing::ValuesIn(kUsage),
                         [](const auto &info) { return std::string(info.param.name); });

// Failures name the file first, in the user's terms, with the system's
// reason where the system refused; exit 1, nothing written.
TEST_F(Cli, FailuresSayWhyAndWhichFile) {
    std::string missing = temp_path("missing.pdf"), nowhere = temp_path("no/such/dir/o.pdf");
    std::string encrypted = temp_path("locked.pdf");
    ASSERT_EQ(run_command("qpdf --encrypt secret secret 256 -- " + quote(in) + " " + quote(encrypted)), 0);
    struct {
        strings args;
        std::string message;
    } cases[] = {
        {{"--skip", "4", in, out}, in + ": --skip 4 leaves no page to number: the document has 4 pages"},
        {{"--pages", "5-", in, out}, in + ": --pages 5- selects no page: the document has 4 pages"},
        {{"--pages", "7", in, out}, in + ": --pages 7 selects no page: the document has 4 pages"},
        {{missing, out}, "cannot open " + missing + ": No such file or directory"},
        {{"", out}, "cannot open '' (an empty path): No such file or directory"},
        {{in, nowhere}, "cannot write " + nowhere + ": No such file or directory"},
        {{in, ""}, "cannot write '' (an empty path): No such file or directory"},
        {{encrypted, out}, encrypted + ": encrypted PDFs are not supported: it needs a password to open; save a "
                                       "copy without encryption first (for example qpdf --decrypt "
                                       "--password=PASSWORD " + encrypted + " plain.pdf) and number that"},
    };
    for (const auto &c : cases) {
        run_result r = cli(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.output, "dedediruzurud: " + c.message + "\n");
        EXPECT_FALSE(file_exists(out));
    }
}

// Warnings leave the output written; -q silences them, -v adds the page
// count.
TEST_F(Cli, WarningsQuietAndVerbose) {
    struct {
        strings options;
        std::string said;
    } cases[] = {
        {{"--size", "0"}, "dedediruzurud: warning: --size 0 is not a size: 12 is used\n"},
        {{"--size", "301"}, "dedediruzurud: warning: --size 301 is more than 300: 300 is used\n"},
        {{"--format", "Draft"},
         "dedediruzurud: warning: --format 'Draft' holds no {n} or {total}: every labelled page shows the same text\n"},
        {{"--format", "Page {n} of {total}", "--size", "300"},
         "dedediruzurud: " + in + ": warning: the label is wider than the room on 4 pages at size 300: it runs past "
                                  "the margin (a smaller --size or a shorter --format would fit)\n"},
        {{"--size", "-5", "-q"}, ""},
        {{"-v"}, "dedediruzurud: " + in + ": 4 pages\n"},
        {{"--quiet", "--verbose", "--format", "x"}, ""},
    };
    for (const auto &c : cases) {
        strings args = c.options;
        args.push_back(in);
        args.push_back(out);
        split_result r = cli_split(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.said);
        EXPECT_EQ(qpdf_problems(out), "");
    }
}

// -v: the page count, then each damage the reader tolerated.
TEST_F(Cli, VerboseTellsWhatWasRepaired) {
    std::string damaged = corpus_file("variant-damaged-badstartxref.pdf");
    split_result r = cli_split({"-v", damaged, out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "dedediruzurud: " + damaged + ": 52 pages\ndedediruzurud: " + damaged +
                         ": repaired: the cross-reference table is damaged or missing; the objects were found by "
                         "scanning the file\n");
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

// Characters of Windows-1252 typed in UTF-8 reach the label as that
// encoding's bytes, and text extraction reads them back as typed.
struct charset_case {
    const char *name;
    const char *typed;  // UTF-8
    const char *code;   // in the content stream's string
};

const charset_case kShowable[] = {
    {"eAcute", "\xC3\xA9", "\\351"},          {"uUmlaut", "\xC3\xBC", "\\374"},
    {"sharpS", "\xC3\x9F", "\\337"},          {"emDash", "\xE2\x80\x94", "\\227"},
    {"euro", "\xE2\x82\xAC", "\\200"},       {"leftQuote", "\xE2\x80\x9C", "\\223"},
    {"rightQuote", "\xE2\x80\x9D", "\\224"}, {"sCaron", "\xC5\xA1", "\\232"},
    {"ellipsis", "\xE2\x80\xA6", "\\205"},   {"yDiaeresis", "\xC3\xBF", "\\377"},
};

class CliShowable : public Cli, public ::testing::WithParamInterface<charset_case> {};

TEST_P(CliShowable, ComesOutAsTyped) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    const charset_case &c = GetParam();
    run_result r = cli({"--format", std::string("a") + c.typed + "{n}", in, out});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(labels()[1], std::string("a") + c.code + "2");
    std::vector<std::string> pages = page_texts(out);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_NE(pages[3].find(std::string("a") + c.typed + "4"), std::string::npos) << pages[3];
}

INSTANTIATE_TEST_SUITE_P(Labels, CliShowable, ::testing::ValuesIn(kShowable),
                         [](const auto &info) { return std::string(info.param.name); });

// What the label font cannot show is refused before any work: exit 2,
// the character or byte named, no output.
struct refused_case {
    const char *name;
    const char *format;
    const char *message;
};

const refused_case kRefused[] = {
    {"cyrillic", "\xD0\x96 {n}", "the label font cannot show '\xD0\x96' (U+0416)"},
    {"cjk", "{n} \xE4\xB8\xAD", "the label font cannot show '\xE4\xB8\xAD' (U+4E2D)"},
    {"emoji", "\xF0\x9F\x98\x80", "the label font cannot show '\xF0\x9F\x98\x80' (U+1F600)"},
    {"c1Control", "\xC2\x81", "the label font cannot show U+0081"},
    {"latin1Byte", "S\xE9ite {n}", "--format is not valid UTF-8 (byte 0xE9 at position 2)"},
    {"cutShort", "{n} \xE2\x80", "--format is not valid UTF-8 (byte 0xE2 at position 5)"},
    {"overlong", "\xC0\xAF", "--format is not valid UTF-8 (byte 0xC0 at position 1)"},
    {"surrogate", "\xED\xA0\x80", "--format is not valid UTF-8 (byte 0xED at position 1)"},
    {"pastUnicode", "\xF4\x90\x80\x80", "--format is not valid UTF-8 (byte 0xF4 at position 1)"},
    {"tab", "{n}\tof", "--format holds a control character (U+0009): a label is one line of text"},
    {"newline", "Page\n{n}", "--format holds a control character (U+000A): a label is one line of text"},
};

class CliRefused : public Cli, public ::testing::WithParamInterface<refused_case> {};

TEST_P(CliRefused, ExitTwoNamingIt) {
    const refused_case &c = GetParam();
    run_result r = cli({"--format", c.format, in, out});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.output, std::string("dedediruzurud: ") + c.message + "\n");
    EXPECT_FALSE(file_exists(out));
    // Many files: not even the output directory is made.
    std::string dir = temp_path("never");
    EXPECT_EQ(cli({"--format", c.format, in, "-o", dir}).status, 2);
    EXPECT_FALSE(file_exists(dir));
}

INSTANTIATE_TEST_SUITE_P(Labels, CliRefused, ::testing::ValuesIn(kRefused),
                         [](const auto &info) { return std::string(info.param.name); });

// A directory, a FIFO without a writer and an endless device are refused
// at once as files that cannot be opened, nothing read from them. The
// timeout only keeps a regression from hanging the run.
TEST_F(Cli, InputThatIsNotAFile) {
    std::string dir = temp_path("a-directory"), fifo = temp_path("a-fifo");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string &path : {dir, fifo, std::string("/dev/zero")}) {
        run_result r = cli({path, out}, "timeout 60 ");
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.output, "dedediruzurud: cannot open " + path + (path == dir ? ": Is a directory" : ": not a regular file") + "\n");
        EXPECT_FALSE(file_exists(out));
    }
}

// The manual page and --help describe the same options.
class ManPage : public ::testing::Test {
protected:
    static std::string source() {
        std::string man = read_file(DEDEDIRUZURUD_MAN_PAGE), plain;
        for (size_t i = 0; i < man.size(); ++i) {
            if (man.compare(i, 2, "\\-") == 0) ++i;  // "\-" is a plain hyphen
            plain += man[i];
        }
        return plain;
    }
    // Every option word (-x, --word) in a text.
    static std::set<std::string> options_in(const std::string &text) {
        std::set<std::string> found;
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            bool start = i == 0 || text[i - 1] == ' ' || text[i - 1] == ',' || text[i - 1] == 'B' || text[i - 1] == '\n';
            if (!start || text[i] != '-') continue;
            size_t e = i + 1 + (text[i + 1] == '-');
            while (e < text.size() && ((text[e] >= 'a' && text[e] <= 'z') || text[e] == '-')) ++e;
            std::string word = text.substr(i, e - i);
            if (word.size() > 1 && word.back() != '-' && (word[1] == '-' ? word.size() > 3 : word.size() == 2))
                found.insert(word);
        }
        return found;
    }
};

TEST_F(ManPage, NamesEveryOptionOfTheHelp) {
    std::string help = cli({"--help"}).output, man = source();
    std::set<std::string> in_help = options_in(help), in_man = options_in(man);
    EXPECT_GE(in_help.size(), 14u);
    for (const auto &o : in_help) EXPECT_TRUE(in_man.count(o)) << o << " is missing from the manual page";
    for (const auto &o : in_man) EXPECT_TRUE(in_help.count(o)) << o << " is missing from --help";
}

TEST_F(ManPage, VersionAndRendering) {
    std::string man = source();
    std::string version = cli({"--version"}).output;  // "dedediruzurud 1.0.0\n"
    EXPECT_NE(man.find(".TH DEDEDIRUZURUD 1 "), std::string::npos);
    EXPECT_NE(man.find("\"" + version.substr(0, version.size() - 1) + "\""), std::string::npos);
    if (!have_tool("groff")) GTEST_SKIP() << "groff not installed";
    std::string warnings;
    run_command("groff -man -ww -z -Tutf8 " + quote(DEDEDIRUZURUD_MAN_PAGE) + " 2>&1", &warnings);
    EXPECT_EQ(warnings, "");
}

// cmake --install puts the page where man finds it.
TEST_F(ManPage, Installed) {
    std::string prefix = temp_path("prefix");
    std::string log;
    int rc = run_command(quote(CMAKE_COMMAND) + " --install " + quote(DEDEDIRUZURUD_BUILD_DIR) + " --prefix " +
                             quote(prefix) + " 2>&1",
                         &log);
    ASSERT_EQ(rc, 0) << log;
    EXPECT_EQ(read_file(prefix + "/share/man/man1/dedediruzurud.1"), read_file(DEDEDIRUZURUD_MAN_PAGE));
    EXPECT_TRUE(file_exists(prefix + "/bin/dedediruzurud"));
}

}  // namespace
