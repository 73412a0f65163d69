// The command-line tool with many files (-o DIR, --suffix, -j,
// --continue) and in pipes ("-" as input or output).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_support.h"

namespace {

// Three small documents of 2, 3 and 4 pages in a directory of their own.
class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        dir = temp_path("batch");
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        for (int k = 0; k < 3; ++k) {
            inputs.push_back(dir + "/part" + std::to_string(k + 1) + ".pdf");
            write_file(inputs.back(), simple_pdf(k + 2));
        }
    }
    // The label texts of an output's pages ("" when unlabelled).
    static strings labels(const std::string &path, int pages) {
        std::string pdf = read_file(path);
        strings v;
        for (int i = 0; i < pages; ++i) {
            std::string c = object_at(pdf, 5 + 3 * i);
            size_t t = c.find(") Tj"), o = c.rfind('(', t);
            v.push_back(t == std::string::npos ? "" : c.substr(o + 1, t - o - 1));
        }
        return v;
    }
    strings with_inputs(strings args) const {
        args.insert(args.end(), inputs.begin(), inputs.end());
        return args;
    }
    std::string dir;
    strings inputs;
};

TEST_F(Batch, IntoADirectory) {
    std::string out = temp_path("numbered");  // made by the tool
    split_result r = cli_split(with_inputs({"--format", "{n}/{total}", "-o", out}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Numbered 3 files (9 pages) in ", 0), 0u) << r.out;
    EXPECT_EQ(labels(out + "/part1.pdf", 2), (strings{"1/2", "2/2"}));
    EXPECT_EQ(labels(out + "/part3.pdf", 4), (strings{"1/4", "2/4", "3/4", "4/4"}));
    EXPECT_EQ(qpdf_problems(out + "/part2.pdf"), "");
}

TEST_F(Batch, BesideEachInput) {
    std::string plain = dir + "/notes", dotted = dir + "/v1.2.pdf";
    write_file(plain, simple_pdf(1));
    write_file(dotted, simple_pdf(1));
    split_result r = cli_split({"--suffix", "-numbered", inputs[0], plain, dotted});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *name : {"/part1-numbered.pdf", "/notes-numbered", "/v1.2-numbered.pdf"})
        EXPECT_TRUE(file_exists(dir + name)) << name;
}

// The same bytes whatever the number of workers, and as one file at a time.
TEST_F(Batch, SameOutputAtAnyJobCount) {
    std::string one = temp_path("j1"), three = temp_path("j3"), single = temp_path("single.pdf");
    ASSERT_EQ(cli_split(with_inputs({"-j1", "-o", one})).status, 0);
    ASSERT_EQ(cli_split(with_inputs({"--jobs=3", "-o", three})).status, 0);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(cli({inputs[k], single}).status, 0);
        std::string name = "/part" + std::to_string(k + 1) + ".pdf";
        EXPECT_EQ(read_file(one + name), read_file(single)) << name;
        EXPECT_EQ(read_file(three + name), read_file(single)) << name;
    }
}

// Every failure is named with its own message, the rest is numbered, and
// the exit status tells that something failed.
TEST_F(Batch, FailuresNamedOneByOne) {
    std::string missing = dir + "/missing.pdf", text = dir + "/text.pdf", tree = dir + "/tree.pdf";
    write_file(text, "abc");
    write_file(tree, make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R] /Count 1 >>"}));
    std::string encrypted = std::string(TEST_DATA_DIR) + "/encrypted/r6-userpw.pdf";
    std::string out = temp_path("out");
    split_result r = cli_split({"-o", out, missing, inputs[0], text, encrypted, tree, "-j2"});
    EXPECT_EQ(r.status, 1);
    strings got = lines_of(r.err), want = {
        "dedediruzurud: cannot open " + missing + ": No such file or directory",
        "dedediruzurud: " + text + ": no PDF objects found \xE2\x80\x94 not a PDF",
        "dedediruzurud: " + encrypted + ": encrypted PDFs are not supported: it needs a password to open; save a "
        "copy without encryption first (for example qpdf --decrypt --password=PASSWORD " + encrypted +
        " plain.pdf) and number that",
        "dedediruzurud: " + tree + ": broken page tree",
    };
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    EXPECT_EQ(r.out.rfind("Numbered 1 of 5 files (2 pages) in ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("; 4 failed.\n"), std::string::npos) << r.out;
    EXPECT_TRUE(file_exists(out + "/part1.pdf"));
    EXPECT_FALSE(file_exists(out + "/missing.pdf") || file_exists(out + "/tree.pdf"));
}

// Mistakes that would spoil a run are refused before any work.
struct batch_usage_case {
    const char *name;
    strings args;         // @A, @B stand for inputs, @C for a third file, @D for a fresh directory, @E for @A's
    const char *message;  // with the same stand-ins
};

const batch_usage_case kBatchUsage[] = {
    {"bothTargets", {"@A", "-o", "@D", "--suffix", "-n"}, "-o and --suffix cannot be used together"},
    {"noInputs", {"-o", "@D"}, "expected INPUT.pdf files to number"},
    {"emptySuffix", {"@A", "--suffix="}, "option --suffix needs a text that is not empty"},
    {"stdinInBatch", {"-", "@A", "-o", "@D"}, "'-' (standard input) cannot be used with -o or --suffix"},
    {"continueAlone", {"--continue", "@A", "@B"}, "--continue numbers many files: give them with -o DIR or --suffix TEXT"},
    {"zeroJobs", {"-j", "0", "@A", "-o", "@D"}, "option -j needs a number of 1 or more, not '0'"},
    {"wordJobs", {"--jobs", "all", "@A", "-o", "@D"}, "option --jobs needs a whole number, not 'all'"},
    {"missingDir", {"@A", "-o"}, "option -o needs a value"},
    {"givenTwice", {"@A", "@B", "@A", "-o", "@D"}, "'@A' is given twice"},
    {"sameName", {"@A", "@C", "-o", "@D"}, "two inputs would be written to '@D/partx.pdf'"},
    {"replacesInput", {"@C", "@A", "-o", "@E"}, "the numbered copy of '@C' would replace the input '@A'"},
    {"ontoItself", {"@B", "@A", "-o", "@E"}, "the numbered copy of '@B' would replace the file itself: choose another -o DIR"},
    {"dashDir", {"@A", "-o", "-"}, "-o needs a directory: '-' (standard output) cannot take many files"},
    {"dirIsAFile", {"@B", "-o", "@A"}, "-o needs a directory, and '@A' is not one"},
};

std::string replace_all(std::string s, const std::string &key, const std::string &value) {
    for (size_t p = 0; (p = s.find(key, p)) != std::string::npos; p += value.size()) s.replace(p, key.size(), value);
    return s;
}

class BatchUsage : public Batch, public ::testing::WithParamInterface<batch_usage_case> {
protected:
    std::string fill(std::string s) const {
        for (auto [key, value] : {std::pair{"@A", a}, {"@B", b}, {"@C", c}, {"@D", d}, {"@E", dir}})
            s = replace_all(s, key, value);
        return s;
    }
    std::string a, b, c, d;
};

TEST_P(BatchUsage, ExitTwoAndNothingWritten) {
    // @C has @A's name in another directory.
    a = dir + "/partx.pdf";
    b = dir + "/part.pdf";
    std::string other = temp_path("other");
    ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
    c = other + "/partx.pdf";
    d = temp_path("fresh");
    for (const auto &path : {a, b, c}) write_file(path, simple_pdf(1));
    strings args;
    for (const auto &arg : GetParam().args) args.push_back(fill(arg));
    split_result r = cli_split(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "dedediruzurud: " + fill(GetParam().message) + "\nTry 'dedediruzurud --help' for more information.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(file_exists(d));
    EXPECT_FALSE(file_exists(dir + "/partxx.pdf"));
    EXPECT_EQ(read_file(a), simple_pdf(1));
}

INSTANTIATE_TEST_SUITE_P(Errors, BatchUsage, ::testing::ValuesIn(kBatchUsage),
                         [](const auto &info) { return std::string(info.param.name); });

// -o makes the missing directories above DIR too.
TEST_F(Batch, NestedDirectoryIsMade) {
    std::string out = temp_path("nested") + "/new/dir";
    split_result r = cli_split(with_inputs({"-q", "-o", out}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");  // -q: not even the summary
    for (const auto &in : {"part1.pdf", "part2.pdf", "part3.pdf"}) EXPECT_EQ(qpdf_problems(out + "/" + in), "");
}

// A second --suffix run over a glob that matches the first run's copies
// skips them with a note, and numbers the originals again.
TEST_F(Batch, SuffixSkipsEarlierCopies) {
    ASSERT_EQ(cli_split(with_inputs({"--suffix", "-n", "-v"})).status, 0);
    std::string copy = dir + "/part1-n.pdf", copy_of_copy = dir + "/part1-n-n.pdf";
    std::string first = read_file(copy);
    strings again = with_inputs({"--suffix", "-n", "-v"});
    for (const auto &n : {"/part1-n.pdf", "/part2-n.pdf", "/part3-n.pdf"}) again.push_back(dir + n);
    split_result r = cli_split(again);
    EXPECT_EQ(r.status, 0) << r.err;
    strings said = lines_of(r.err);
    std::sort(said.begin(), said.end());
    EXPECT_EQ(said, (strings{
                        "dedediruzurud: " + inputs[0] + ": 2 pages",
                        "dedediruzurud: " + inputs[1] + ": 3 pages",
                        "dedediruzurud: " + inputs[2] + ": 4 pages",
                        "dedediruzurud: note: skipping " + copy + ": it is the numbered copy of " + inputs[0] +
                            " from an earlier run",
                        "dedediruzurud: note: skipping " + dir + "/part2-n.pdf: it is the numbered copy of " +
                            inputs[1] + " from an earlier run",
                        "dedediruzurud: note: skipping " + dir + "/part3-n.pdf: it is the numbered copy of " +
                            inputs[2] + " from an earlier run",
                    }));
    EXPECT_EQ(read_file(copy), first);
    EXPECT_FALSE(file_exists(copy_of_copy));
}

// --continue: the files as one document, numbers running on from file to
// file and {total} counting them all.
struct continue_case {
    const char *name;
    strings options;
    strings labels;  // the nine pages in order
};

const continue_case kContinue[] = {
    {"all", {}, {"1/9", "2/9", "3/9", "4/9", "5/9", "6/9", "7/9", "8/9", "9/9"}},
    {"first", {"--first", "-1"}, {"-1/9", "0/9", "1/9", "2/9", "3/9", "4/9", "5/9", "6/9", "7/9"}},
    {"skipInEach", {"--skip", "1"}, {"", "1/9", "", "2/9", "3/9", "", "4/9", "5/9", "6/9"}},
    {"pagesInEach", {"--pages", "2-3", "--first", "10"}, {"", "10/9", "", "11/9", "12/9", "", "13/9", "14/9", ""}},
};

class Continue : public Batch, public ::testing::WithParamInterface<continue_case> {};

TEST_P(Continue, NumbersRunAcrossTheFiles) {
    std::string out = temp_path("book");
    strings args = {"--continue", "--format", "{n}/{total}", "-o", out};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    split_result r = cli_split(with_inputs(args));
    ASSERT_EQ(r.status, 0) << r.err;
    strings got;
    for (int k = 0; k < 3; ++k) {
        strings part = labels(out + "/part" + std::to_string(k + 1) + ".pdf", k + 2);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, GetParam().labels);
}

INSTANTIATE_TEST_SUITE_P(Books, Continue, ::testing::ValuesIn(kContinue),
                         [](const auto &info) { return std::string(info.param.name); });

// As a reader sees it: "Page 1 of N" to "Page N of N" across three real files.
TEST_F(Batch, ContinueReadsAsOneBook) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext not installed";
    strings chapters = {corpus_file("pymupdf-created-rotations.pdf"), corpus_file("img2pdf-jpeg-png.pdf"),
                        corpus_file("variant-inherited-multicontent-blank.pdf")};
    std::string out = temp_path("chapters");
    split_result r = cli_split({"--continue", "--format", "Page {n} of {total}", "-o", out, chapters[0],
                                chapters[1], chapters[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    strings texts;
    for (const auto &c : chapters) {
        strings pages = page_texts(out + c.substr(c.rfind('/')));
        texts.insert(texts.end(), pages.begin(), pages.end());
    }
    ASSERT_GT(texts.size(), 6u);
    std::string total = std::to_string(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_NE(texts[i].find("Page " + std::to_string(i + 1) + " of " + total), std::string::npos) << i;
}

// One unreadable file would put every later number wrong: nothing is written.
TEST_F(Batch, ContinueWritesNothingWhenAFileFails) {
    std::string out = temp_path("book"), missing = dir + "/missing.pdf";
    split_result r = cli_split({"--continue", "-o", out, inputs[0], missing, inputs[1]});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dedediruzurud: cannot open " + missing + ": No such file or directory" +
                         "\ndedediruzurud: nothing written: with --continue every file must be readable (1 of 3 are not)\n");
    EXPECT_FALSE(file_exists(out + "/part1.pdf") || file_exists(out + "/part2.pdf"));
}

// On a terminal a progress line shows and is wiped before the summary;
// elsewhere there is none. `script` gives the tool a terminal.
TEST_F(Batch, ProgressOnlyOnATerminal) {
    std::string big = corpus_file("pdftex-R-intro.pdf"), copies = temp_path("copies"), out = temp_path("out");
    ASSERT_EQ(mkdir(copies.c_str(), 0755), 0);
    strings args = {"-j1", "-o", out};
    for (int k = 0; k < 4; ++k) {
        args.push_back(copies + "/" + std::to_string(k) + ".pdf");
        write_file(args.back(), read_file(big));
    }
    split_result plain = cli_split(args);
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    if (!have_tool("script")) GTEST_SKIP() << "script (util-linux) not installed";
    std::string cmd = quote(DEDEDIRUZURUD_CLI);
    for (const auto &a : args) cmd += " " + a;
    std::string typescript;
    run_command("script -qec " + quote(cmd) + " /dev/null", &typescript);
    EXPECT_NE(typescript.find(" of 4 files, "), std::string::npos) << typescript;
    size_t summary = typescript.find("Numbered 4 files (452 pages)");
    ASSERT_NE(summary, std::string::npos) << typescript;
    EXPECT_EQ(typescript[summary - 1], '\r');  // the line was wiped first
}

// "-" reads standard input and writes standard output; the bytes are the
// same as from file to file.
class Pipes : public ::testing::Test {
protected:
    void SetUp() override {
        in = temp_path("in.pdf");
        write_file(in, simple_pdf(3));
        std::string ref = temp_path("ref.pdf");
        ASSERT_EQ(cli({"--format", "p{n}", in, ref}).status, 0);
        expected = read_file(ref);
    }
    std::string in, expected;
};

TEST_F(Pipes, EitherEndOrBoth) {
    std::string out = temp_path("out.pdf");
    split_result from_stdin = cli_split({"--format", "p{n}", "-", out}, in);
    EXPECT_EQ(from_stdin.status, 0) << from_stdin.err;
    EXPECT_EQ(read_file(out), expected);
    split_result to_stdout = cli_split({"--format", "p{n}", in, "-"});
    EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
    EXPECT_EQ(to_stdout.out, expected);
    split_result both = cli_split({"--format", "p{n}", "-", "-"}, in);
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out, expected);
    EXPECT_EQ(both.err, "");
}

TEST_F(Pipes, FailuresNameTheStream) {
    std::string empty = temp_path("empty"), text = temp_path("text");
    write_file(empty, "");
    write_file(text, "not a pdf");
    struct {
        std::string input;
        strings args;
        std::string message;
    } cases[] = {
        {empty, {"-", "-"}, "(standard input): empty input file"},
        {text, {"-", "-"}, "(standard input): no PDF objects found \xE2\x80\x94 not a PDF"},
        {in, {"--pages", "5-6", "-", "-"}, "(standard input): --pages 5-6 selects no page: the document has 3 pages"},
    };
    for (const auto &c : cases) {
        split_result r = cli_split(c.args, c.input);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "dedediruzurud: " + c.message + "\n");
        EXPECT_EQ(r.out, "");  // nothing half-written into the pipe
    }
}

}  // namespace
