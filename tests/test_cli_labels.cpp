// The command-line tool's label options (--font, --margin, --opacity,
// --backing, --total, --page-labels) and a Bates production across files
// with its --manifest, read back with poppler, qpdf and pikepdf.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "cli_support.h"

namespace {

const char *const k_dejavu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

bool have_readers() { return have_tool("pdftotext") && have_tool("pdffonts") && have_tool("qpdf"); }

// The viewer page labels of a PDF, one per page, as pikepdf reads them.
strings page_labels(const std::string &pdf) {
    std::string out;
    run_command("/usr/bin/python3 -c 'import pikepdf,sys; p=pikepdf.open(sys.argv[1]); "
                "print(\"\\n\".join(pikepdf.Page(x).label for x in p.pages))' " + quote(pdf) + " 2>/dev/null",
                &out);
    return lines_of(out);
}

// Three documents of 2, 3 and 4 pages numbered as one Bates production: the
// numbers run on across the files, the manifest lists each with its first
// and last number as printed; a failing file leaves no manifest.
TEST(CliBates, ContinueAcrossFilesWithManifest) {
    if (!have_readers()) GTEST_SKIP() << "poppler-utils or qpdf not installed";
    std::string dir = fresh_dir("bates"), out = dir + "/out", csv = dir + "/production.csv";
    strings inputs;
    for (int k = 0; k < 3; ++k) {
        inputs.push_back(dir + "/doc," + std::to_string(k + 1) + ".pdf");  // a comma the CSV must quote
        write_file(inputs.back(), simple_pdf(k + 2));
    }
    strings args = {"--continue", "--format", "ACME-{n:06} of {total}", "--total", "labelled", "--first", "1000",
                    "--backing", "--manifest", csv, "-o", out};
    args.insert(args.end(), inputs.begin(), inputs.end());
    split_result r = cli_split(args);
    ASSERT_EQ(r.status, 0) << r.err;
    int n = 1000;
    for (int k = 0; k < 3; ++k) {
        std::string output = out + "/doc," + std::to_string(k + 1) + ".pdf";
        strings texts = page_texts(output);
        ASSERT_EQ(texts.size(), static_cast<size_t>(k + 2));
        for (const std::string &t : texts) {
            char want[32];
            std::snprintf(want, sizeof want, "ACME-%06d of 1008", n++);
            EXPECT_NE(t.find(want), std::string::npos) << t;
        }
        EXPECT_EQ(qpdf_problems(output), "");
    }
    auto row = [&](int k, const char *first, const char *last) {
        std::string name = "doc," + std::to_string(k + 1) + ".pdf";
        return "\"" + dir + "/" + name + "\",\"" + out + "/" + name + "\",ACME-" + first + " of 1008,ACME-" + last +
               " of 1008," + std::to_string(k + 2) + "\n";
    };
    EXPECT_EQ(read_file(csv), "input,output,first,last,pages\n" + row(0, "001000", "001001") +
                                  row(1, "001002", "001004") + row(2, "001005", "001008"));

    // One unreadable file: nothing numbered, no manifest.
    std::string missing = dir + "/missing.pdf", csv2 = dir + "/never.csv";
    r = cli_split({"--continue", "--manifest", csv2, inputs[0], missing, "-o", dir + "/out2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(file_exists(csv2));
    // Without --continue a failure anywhere also leaves none.
    r = cli_split({"--manifest", csv2, inputs[0], missing, "-o", dir + "/out3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(file_exists(dir + "/out3/doc,1.pdf"));
    EXPECT_FALSE(file_exists(csv2));
}

// Each option reaches the label: read back as text, as fonts, as position.
struct look_case {
    const char *name;
    strings args;
    int page;           // 1-based page to read
    const char *text;   // its label as pdftotext gives it
    const char *font;   // a pdffonts line holding this ("" for none to check)
};

const look_case kLooks[] = {
    {"cyrillicTrueType", {"--font", k_dejavu, "--format", "Страница {n} из {total}"}, 3,
     "Страница 3 из 4", "CID TrueType      Identity-H       yes yes yes"},
    {"accentedTimes", {"--font", "Times-Roman", "--format", "Página {n} — “{total}”"}, 2, "Página 2 — “4”",
     "Times-Roman                          Type 1            WinAnsi          no  no  no"},
    {"romanSkippingCover", {"--skip", "1", "--format", "{n:R}/{total:R}", "--total", "labelled"}, 4, "III/III", ""},
    {"givenTotal", {"--format", "{n:a} of {total}", "--total", "30", "--first", "27"}, 2, "bb of 30", ""},
    {"faintBoxedPipe", {"--opacity", "0.4", "--backing", "--format", "p{n:03}"}, 4, "p004", ""},
};

class CliLook : public ::testing::TestWithParam<look_case> {};

TEST_P(CliLook, ReadsBack) {
    if (!have_readers()) GTEST_SKIP() << "poppler-utils or qpdf not installed";
    if (!file_exists(k_dejavu)) GTEST_SKIP() << "fonts-dejavu-core not installed";
    const look_case &c = GetParam();
    std::string in = temp_path("look-in.pdf"), out = temp_path("look-out.pdf");
    write_file(in, simple_pdf(4));
    strings args = c.args;
    args.insert(args.end(), {in, out});
    run_result r = cli(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(page_texts(out).at(c.page - 1).find(c.text), std::string::npos) << page_texts(out)[c.page - 1];
    std::string fonts;
    run_command("pdffonts " + quote(out), &fonts);
    EXPECT_NE(fonts.find(c.font), std::string::npos) << fonts;
    EXPECT_EQ(qpdf_problems(out), "");
}

INSTANTIATE_TEST_SUITE_P(Options, CliLook, ::testing::ValuesIn(kLooks),
                         [](const auto &info) { return std::string(info.param.name); });

// The same bytes whether the file comes by name or through the pipes
// (which pass through temporary files).
TEST(CliLookPipes, SameBytesAsFiles) {
    if (!file_exists(k_dejavu)) GTEST_SKIP() << "fonts-dejavu-core not installed";
    std::string in = temp_path("pipe-in.pdf"), out = temp_path("pipe-out.pdf");
    write_file(in, simple_pdf(3));
    strings look = {"--font", k_dejavu, "--format", "Σελίδα {n}", "--page-labels"};
    strings args = look;
    args.insert(args.end(), {in, out});
    ASSERT_EQ(cli(args).status, 0);
    look.insert(look.end(), {"-", "-"});
    split_result r = cli_split(look, in);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, read_file(out));
}

// --margin X,Y puts the label X points from the side and Y from the edge;
// --page-labels makes the viewer's page box show what the pages print.
TEST(CliPlacement, MarginAndPageLabels) {
    if (!have_readers()) GTEST_SKIP() << "poppler-utils or qpdf not installed";
    std::string in = temp_path("place-in.pdf"), out = temp_path("place-out.pdf");
    write_file(in, simple_pdf(5));
    run_result r = cli({"--margin", "50,40", "--position", "bottom-left", "--pages", "3-", "--format", "{n:r}",
                        "--page-labels", in, out});
    ASSERT_EQ(r.status, 0) << r.output;
    word_box b = find_word(out, 4, "ii");
    ASSERT_TRUE(b.found);
    EXPECT_NEAR(b.x_min, 50, 1.5);
    EXPECT_NEAR(b.page_h - b.y_max, 40, 4);  // the glyphs' box, not the text line's, sits on the margin
    strings labels = page_labels(out);
    if (labels.empty()) GTEST_SKIP() << "pikepdf not installed";
    EXPECT_EQ(labels, (strings{"1", "2", "i", "ii", "iii"}));
}

// Values the tool or the library refuses before any work: exit 2, the
// reason, no output.
struct refused_case {
    const char *name;
    strings args;
    const char *message;
};

const refused_case kRefused[] = {
    {"negativeMargin", {"--margin", "-1"}, "margins must be numbers of points from 0 up (got -1, -1)"},
    {"wordMargin", {"--margin", "10,wide"}, "option --margin needs X or X,Y in points, not '10,wide'"},
    {"opacityAboveOne", {"--opacity", "2"}, "opacity must be a number from 0 to 1 (got 2)"},
    {"opacityWord", {"--opacity", "half"}, "option --opacity needs a number from 0 to 1, not 'half'"},
    {"totalWord", {"--total", "all"}, "option --total needs a number of pages or 'labelled', not 'all'"},
    {"negativeFace", {"--font-index", "-1"}, "option --font-index needs a face number of 0 or more, not '-1'"},
    {"padTooWide", {"--format", "{n:040}"}, "zero padding to 40 digits is wider than 32"},
    {"cyrillicInTimes", {"--font", "Times-Bold", "--format", "Ж{n}"}, "the label font cannot show 'Ж' (U+0416)"},
};

class CliRefusedLook : public ::testing::TestWithParam<refused_case> {};

TEST_P(CliRefusedLook, ExitTwo) {
    const refused_case &c = GetParam();
    std::string in = temp_path("refused-in.pdf"), out = temp_path("refused-out.pdf");
    write_file(in, simple_pdf(1));
    strings args = c.args;
    args.insert(args.end(), {in, out});
    run_result r = cli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(lines_of(r.output).at(0), std::string("dedediruzurud: ") + c.message);
    EXPECT_FALSE(file_exists(out));
}

INSTANTIATE_TEST_SUITE_P(Options, CliRefusedLook, ::testing::ValuesIn(kRefused),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
