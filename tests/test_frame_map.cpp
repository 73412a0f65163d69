// Coordinates on turned and shifted pages: the map of each rotation and box
// (the same as the wrapping form's matrix), and what it does to
// annotation entries, destinations and appearance matrices.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dedediruzurud/frame_map.h"
#include "dedediruzurud/wrap.h"
#include "writer_support.h"

namespace {

void quiet(const char *, ...) {}

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); }
int32_t len(const std::string &s) { return static_cast<int32_t>(s.size()); }

pdfp_pageinfo page_with_box(double llx, double lly, double urx, double ury) {
    pdfp_pageinfo p{};
    p.box_llx = llx;
    p.box_lly = lly;
    p.box_urx = urx;
    p.box_ury = ury;
    return p;
}

std::string annot(const frame_map &m, const std::string &dict) {
    std::string out;
    return frame_map_annot(m, bytes(dict), len(dict), &out) ? out : "unchanged";
}

// One rotation and box, with where the rectangle [10 20 30 60] lands.
struct frame_case {
    int rot;
    double box[4];
    std::string rect;  // mapped /Rect
    std::string point; // the point (10, 20) mapped, as "x y"
};

class Frames : public ::testing::TestWithParam<frame_case> {};

// The box's corners land on the corners of the new page [0 0 W H], as the
// form's matrix puts them.
TEST_P(Frames, BoxLandsOnTheNewPage) {
    const frame_case &c = GetParam();
    pdfp_pageinfo page = page_with_box(c.box[0], c.box[1], c.box[2], c.box[3]);
    frame_map m = frame_map_of(&page, c.rot);
    std::string matrix = form_header(&page, c.rot, 0, "", "");
    if (frame_map_is_identity(m)) {
        EXPECT_EQ(matrix.find("/Matrix"), std::string::npos);
    } else {
        std::string want = "/Matrix [" + pdfp_fmt_num(m.a) + " " + pdfp_fmt_num(m.b) + " " + pdfp_fmt_num(m.c) + " " + pdfp_fmt_num(m.d) +
                           " " + pdfp_fmt_num(m.e) + " " + pdfp_fmt_num(m.f) + "]";
        EXPECT_NE(matrix.find(want), std::string::npos) << matrix;
    }
    std::string out = annot(m, "<< /Rect [" + pdfp_fmt_num(c.box[0]) + " " + pdfp_fmt_num(c.box[1]) + " " + pdfp_fmt_num(c.box[2]) +
                                   " " + pdfp_fmt_num(c.box[3]) + "] >>");
    bool turned = c.rot == 90 || c.rot == 270;
    double w = turned ? c.box[3] - c.box[1] : c.box[2] - c.box[0], h = turned ? c.box[2] - c.box[0] : c.box[3] - c.box[1];
    if (!frame_map_is_identity(m)) {
        EXPECT_EQ(out, "<< /Rect [0 0 " + pdfp_fmt_num(w) + " " + pdfp_fmt_num(h) + "] >>");
    }
}

TEST_P(Frames, RectAndDestinationPoint) {
    const frame_case &c = GetParam();
    pdfp_pageinfo page = page_with_box(c.box[0], c.box[1], c.box[2], c.box[3]);
    frame_map m = frame_map_of(&page, c.rot);
    EXPECT_EQ(annot(m, "<</Type/Annot/Rect[10 20 30 60]/Contents(keep [5 0 R /XYZ 1 2 3])>>"),
              c.rect == "unchanged" ? c.rect : "<</Type/Annot/Rect" + c.rect + "/Contents(keep [5 0 R /XYZ 1 2 3])>>");

    page_frames frames;
    frames.by_obj.assign(8, 0);
    if (!frame_map_is_identity(m)) {
        frames.maps.push_back(m);
        frames.by_obj[5] = 1;
    }
    std::string text = "<< /D [5 0 R /XYZ 10 20 0] /Title (a [5 0 R /XYZ 10 20 0]) /Next [6 0 R /XYZ 10 20 0] >>";
    std::string out;
    if (c.point == "unchanged") {
        EXPECT_FALSE(frame_map_dests(frames, bytes(text), len(text), &out));
    } else {
        ASSERT_TRUE(frame_map_dests(frames, bytes(text), len(text), &out));
        EXPECT_EQ(out, "<< /D [5 0 R /XYZ " + c.point + " 0] /Title (a [5 0 R /XYZ 10 20 0]) /Next [6 0 R /XYZ 10 20 0] >>");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rotations, Frames,
    ::testing::Values(frame_case{0, {0, 0, 200, 100}, "unchanged", "unchanged"},
                      frame_case{90, {0, 0, 200, 100}, "[20 170 60 190]", "20 190"},
                      frame_case{180, {0, 0, 200, 100}, "[170 40 190 80]", "190 80"},
                      frame_case{270, {0, 0, 200, 100}, "[40 10 80 30]", "80 10"},
                      frame_case{0, {5, 7, 205, 107}, "[5 13 25 53]", "5 13"},
                      frame_case{90, {5, 7, 205, 107}, "[13 175 53 195]", "13 195"},
                      frame_case{180, {5, 7, 205, 107}, "[175 47 195 87]", "195 87"},
                      frame_case{270, {5, 7, 205, 107}, "[47 5 87 25]", "87 5"},
                      frame_case{45, {-10, -20, 190, 80}, "[20 40 40 80]", "20 40"},
                      frame_case{90, {0, 0, 200.5, 100}, "[20 170.5000 60 190.5000]", "20 190.5000"}));

frame_map turned_90() {
    pdfp_pageinfo page = page_with_box(0, 0, 200, 100);
    return frame_map_of(&page, 90);  // (x, y) -> (y, 200 - x)
}

struct entry_case {
    std::string in, out;
};

class AnnotEntries : public ::testing::TestWithParam<entry_case> {};

TEST_P(AnnotEntries, MappedOnAQuarterTurn) { EXPECT_EQ(annot(turned_90(), GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Entries, AnnotEntries,
    ::testing::Values(
        // Highlights: every point, in its order.
        entry_case{"<< /QuadPoints [10 60 30 60 10 20 30 20] >>", "<< /QuadPoints [60 190 60 170 20 190 20 170] >>"},
        entry_case{"<< /Vertices [1 2 3 4 5 6] /L [0 0 10 10] /CL [1 1 2 2 3 3] >>",
                   "<< /Vertices [2 199 4 197 6 195] /L [0 200 10 190] /CL [1 199 2 198 3 197] >>"},
        entry_case{"<< /InkList [[1 2 3 4] [5 6]] >>", "<< /InkList [[2 199 4 197] [6 195]] >>"},
        // Insets [left top right bottom]: the bottom one becomes the left.
        entry_case{"<< /RD [1 2 3 4] >>", "<< /RD [4 1 2 3] >>"},
        // NoRotate (flag 16): the note keeps its size, its upper-left corner
        // (10, 60) goes to (60, 190), and its insets stay.
        entry_case{"<< /F 20 /Rect [10 20 30 60] /RD [1 2 3 4] >>", "<< /F 20 /Rect [60 150 80 190] /RD [1 2 3 4] >>"},
        entry_case{"<< /F 4 /Rect [30 60 10 20] >>", "<< /F 4 /Rect [20 170 60 190] >>"},
        // A widget takes the quarter turn the page no longer gives it.
        entry_case{"<< /MK << /BG [1] >> >>", "<< /MK << /R 270 /BG [1] >> >>"},
        entry_case{"<< /MK << /R 90 >> >>", "<< /MK << /R 0 >> >>"},
        entry_case{"<< /F 16 /MK << /R 90 >> /MK2 1 >>", "unchanged"},
        entry_case{"<< /MK 7 0 R >>", "unchanged"},
        entry_case{"<< /MK << /R 45 >> >>", "unchanged"},
        // What is not plain numbers stays as it is.
        entry_case{"<< /Rect 12 0 R /QuadPoints [1 2 3] /L [1 2 3 x] /InkList [[1 2] 7 0 R] >>", "unchanged"},
        entry_case{"<< /Rect [1 2 3] /Vertices [1e3 2 3 4] /RD [1 2 3 4 5] >>", "unchanged"},
        entry_case{"<< /Contents (/Rect [1 2 3 4]) /Sub << /Rect [1 2 3 4] >> >>", "unchanged"},
        // Comments and odd spacing inside the values are read past.
        entry_case{"<< /Rect[ 10 %c\n 20 30 60 ]/T (x) >>", "<< /Rect[20 170 60 190]/T (x) >>"}));

struct dest_case {
    std::string in, out;
};

class Destinations : public ::testing::TestWithParam<dest_case> {};

TEST_P(Destinations, OnAQuarterTurn) {
    page_frames frames;
    frames.maps.push_back(turned_90());
    frames.by_obj.assign(10, 0);
    frames.by_obj[5] = 1;
    frames.by_obj[6] = -1;  // a page that needs no map
    std::string out;
    bool changed = frame_map_dests(frames, bytes(GetParam().in), len(GetParam().in), &out);
    EXPECT_EQ(changed ? out : "unchanged", GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Destinations,
    ::testing::Values(
        dest_case{"[5 0 R /XYZ 10 20 2]", "[5 0 R /XYZ 20 190 2]"},
        dest_case{"[5 0 R /XYZ null 20 null]", "[5 0 R /XYZ 20 null null]"},
        dest_case{"[5 0 R /XYZ 10 null 0]", "[5 0 R /XYZ null 190 0]"},
        // A horizontal edge turned a quarter is a vertical one.
        dest_case{"[5 0 R /FitH 20]", "[5 0 R /FitV 20]"},
        dest_case{"[5 0 R /FitBV 10]", "[5 0 R /FitBH 190]"},
        dest_case{"[5 0 R /FitH null]", "[5 0 R /FitV null]"},
        dest_case{"[5 0 R /FitR 10 20 30 60]", "[5 0 R /FitR 20 170 60 190]"},
        dest_case{"[5 0 R /Fit]", "unchanged"},
        dest_case{"[6 0 R /XYZ 10 20 0] [7 0 R /XYZ 10 20 0] [5 /XYZ 10 20 0]", "unchanged"},
        // Short or damaged coordinates leave the destination alone.
        dest_case{"[5 0 R /XYZ 10 20]", "unchanged"},
        dest_case{"[5 0 R /FitR 1 2 null 4]", "unchanged"},
        dest_case{"[5 0 R /XYZ 10 (x) 0]", "unchanged"},
        // Strings, hexadecimal strings and comments are not destinations.
        dest_case{"(a \\) [5 0 R /XYZ 1 2 3]) <5B35> % [5 0 R /XYZ 1 2 3]\n[5 0 R /XYZ 10 20 0]",
                  "(a \\) [5 0 R /XYZ 1 2 3]) <5B35> % [5 0 R /XYZ 1 2 3]\n[5 0 R /XYZ 20 190 0]"},
        dest_case{"<< /Dests << /a [5 0 R /XYZ 0 0 0] /b << /D [5 0 R /FitV 200] >> >> >>",
                  "<< /Dests << /a [5 0 R /XYZ 0 200 0] /b << /D [5 0 R /FitH 0] >> >> >>"},
        dest_case{"[5 0 R /XYZ 1", "unchanged"}));

struct matrix_case {
    int turn;
    std::string in, out;
};

class AppearanceMatrix : public ::testing::TestWithParam<matrix_case> {};

TEST_P(AppearanceMatrix, TurnsWithThePage) {
    const matrix_case &c = GetParam();
    std::string out;
    bool changed = frame_map_matrix(c.turn, bytes(c.in), len(c.in), &out);
    EXPECT_EQ(changed ? out : "unchanged", c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Turns, AppearanceMatrix,
    ::testing::Values(matrix_case{0, "<< /BBox [0 0 10 10] >>", "unchanged"},
                      matrix_case{1, "<< /BBox [0 0 10 10] >>\n", "<< /Matrix [0 -1 1 0 0 0] /BBox [0 0 10 10] >>\n"},
                      matrix_case{2, "<</Matrix [1 0 0 1 5 6]/Length 3>>", "<</Matrix [-1 0 0 -1 -5 -6]/Length 3>>"},
                      matrix_case{3, "<</Matrix [2 0 0 3 0 0]>>", "<</Matrix [0 2 -3 0 0 0]>>"},
                      // A form already turned a quarter the other way comes out upright.
                      matrix_case{1, "<</Matrix [0 1 -1 0 10 0]>>", "<</Matrix [1 0 0 1 0 -10]>>"},
                      matrix_case{1, "<</Matrix 9 0 R>>", "unchanged"},
                      matrix_case{1, "<</Matrix [1 0 0 1]>>", "unchanged"},
                      matrix_case{1, "stream", "unchanged"}));

TEST(PageFrames, OnlyPagesThatMoveAreListed) {
    std::string pdf = make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 3 0 R] /Count 4 /MediaBox [0 0 200 100] >>",
                                "<< /Type /Page /Parent 2 0 R >>",
                                "<< /Type /Page /Parent 2 0 R /Rotate 90 >>",
                                "<< /Type /Page /Parent 2 0 R /CropBox [10 10 100 90] >>"});
    pdfp_doc doc{};
    ASSERT_EQ(pdfp_doc_load_mem(bytes(pdf), pdf.size(), "mem", &doc, quiet), 0);
    page_frames frames;
    page_frames_build(&doc, &frames);
    EXPECT_EQ(page_frames_find(frames, 3), nullptr);
    ASSERT_NE(page_frames_find(frames, 4), nullptr);
    EXPECT_EQ(page_frames_find(frames, 4)->turn, 1);
    ASSERT_NE(page_frames_find(frames, 5), nullptr);
    EXPECT_EQ(page_frames_find(frames, 5)->e, -10);
    EXPECT_EQ(page_frames_find(frames, 2), nullptr);
    EXPECT_EQ(page_frames_find(frames, 99), nullptr);
    pdfp_doc_free(&doc);

    // Nothing turned or shifted: no table at all.
    std::string plain = make_pdf({"<< /Type /Catalog /Pages 2 0 R >>",
                                  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] >>"});
    ASSERT_EQ(pdfp_doc_load_mem(bytes(plain), plain.size(), "mem", &doc, quiet), 0);
    page_frames_build(&doc, &frames);
    EXPECT_TRUE(frames.maps.empty());
    EXPECT_TRUE(frames.by_obj.empty());
    pdfp_doc_free(&doc);
}

// ---------------------------------------------------------------------------
// Through the public functions: a document whose pages are turned and shifted
// ---------------------------------------------------------------------------

// Pages 3..6 of a 300 x 200 document: shifted by a /CropBox, then turned
// 90, 180 and 270 (pass rotations to change that). Each shows the word
// "Target" under a link to the next page and a square note whose
// appearance (object 22, a wedge that shows which way it is turned) all
// pages share; the outline's one entry points at page 4.
std::string turned_document(const std::vector<std::string> &own = {"/CropBox [20 30 300 200]", "/Rotate 90",
                                                                    "/Rotate 180", "/Rotate 270"},
                            const std::string &note_extra = "") {
    std::vector<std::string> b(22, "null");
    b[0] = "<< /Type /Catalog /Pages 2 0 R /Outlines 20 0 R >>";
    b[1] = "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R] /Count 4 /MediaBox [0 0 300 200] >>";
    for (int i = 0; i < 4; ++i) {
        int link = 9 + 2 * i, note = 10 + 2 * i, next = 3 + (i + 1) % 4;
        b[static_cast<size_t>(2 + i)] = "<< /Type /Page /Parent 2 0 R " + own[static_cast<size_t>(i)] +
                                        " /Contents 7 0 R /Resources << /Font << /F1 8 0 R >> >> /Annots [" +
                                        std::to_string(link) + " 0 R " + std::to_string(note) + " 0 R] >>";
        b[static_cast<size_t>(link - 1)] = "<< /Type /Annot /Subtype /Link /Rect [98 97 138 111] /Border [0 0 0] "
                                           "/Dest [" + std::to_string(next) + " 0 R /XYZ 100 120 0] >>";
        b[static_cast<size_t>(note - 1)] = "<< /Type /Annot /Subtype /Square /Rect [150 40 230 70] " + note_extra +
                                           "/AP << /N 22 0 R >> >>";
    }
    b[6] = stream_body("", "BT /F1 12 Tf 100 100 Td (Target) Tj ET");
    b[7] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    b[19] = "<< /Type /Outlines /First 21 0 R /Last 21 0 R /Count 1 >>";
    b[20] = "<< /Title (Quarter) /Parent 20 0 R /Dest [4 0 R /XYZ 100 120 0] >>";
    b[21] = stream_body("/Type /XObject /Subtype /Form /BBox [0 0 80 30]", "0 0 1 rg 0 0 m 80 0 l 0 30 l f");
    return make_pdf(b);
}

// The numbers of the array that follows key in text; empty when none does.
std::vector<double> numbers_after(const std::string &text, const std::string &key) {
    std::vector<double> v;
    size_t at = text.find(key + " [");
    if (at == std::string::npos) return v;
    for (const char *p = text.c_str() + at + key.size() + 2;;) {
        char *e;
        double x = std::strtod(p, &e);
        if (e == p) break;
        v.push_back(x);
        p = e;
    }
    return v;
}

// The output numbers in the references of the array after key.
std::vector<int> refs_after(const std::string &text, const std::string &key) {
    std::vector<int> refs;
    size_t at = text.find(key + " [");
    if (at == std::string::npos) return refs;
    const char *p = text.c_str() + at + key.size() + 2;
    for (int num, used; std::sscanf(p, " %d 0 R%n", &num, &used) == 1; p += used) refs.push_back(num);
    return refs;
}

std::string numbered(const std::string &pdf) {
    std::string out = number_all(pdf, "{n}", 5);  // top left, away from the page's marks
    EXPECT_FALSE(out.empty());
    EXPECT_EQ(qpdf_problems_bytes(out), "");
    return out;
}

TEST(TurnedPages, LinksStillCoverTheirWords) {
    if (!have_tool("pdftotext")) GTEST_SKIP() << "pdftotext missing";
    std::string out = numbered(turned_document());
    std::string path = temp_path("turned.pdf");
    write_file(path, out);
    for (int i = 0; i < 4; ++i) {
        std::vector<int> annots = refs_after(object_at(out, 3 + 3 * i), "/Annots");
        ASSERT_EQ(annots.size(), 2u) << object_at(out, 3 + 3 * i);
        std::string link = object_at(out, annots[0]);
        std::vector<double> r = numbers_after(link, "/Rect");
        ASSERT_EQ(r.size(), 4u) << link;
        word_box w = find_word(path, i + 1, "Target");
        ASSERT_TRUE(w.found) << "page " << i + 1;
        // pdftotext's y grows downwards; the new page is upright at the origin.
        double cx = (w.x_min + w.x_max) / 2, cy = w.page_h - (w.y_min + w.y_max) / 2;
        EXPECT_TRUE(r[0] < cx && cx < r[2] && r[1] < cy && cy < r[3])
            << "page " << i + 1 << ": the word's centre " << cx << " " << cy << " is outside " << link;
        // The link's target names the next page's new page object.
        EXPECT_NE(link.find("/Dest [" + std::to_string(3 + 3 * ((i + 1) % 4)) + " 0 R /XYZ"), std::string::npos)
            << link;
    }
}

// The link on page 1 and the outline both point at the point (100, 120) of
// page 2 (turned 90), which lands on (120, 200) of its new page; page 4's
// link points at the same point of page 1, shifted by its crop to (80, 90).
TEST(TurnedPages, DestinationsNameTheSamePoint) {
    std::string out = numbered(turned_document());
    std::string link = object_at(out, refs_after(object_at(out, 3), "/Annots").at(0));
    EXPECT_NE(link.find("/Dest [6 0 R /XYZ 120 200 0]"), std::string::npos) << link;
    link = object_at(out, refs_after(object_at(out, 12), "/Annots").at(0));
    EXPECT_NE(link.find("/Dest [3 0 R /XYZ 80 90 0]"), std::string::npos) << link;
    int outline_item = 0;
    for (int k = 1; k + 1 < static_cast<int>(xref_offsets(out).size()); ++k)
        if (object_at(out, k).find("/Title (Quarter)") != std::string::npos) outline_item = k;
    ASSERT_NE(outline_item, 0);
    EXPECT_NE(object_at(out, outline_item).find("/Dest [6 0 R /XYZ 120 200 0]"), std::string::npos)
        << object_at(out, outline_item);
}

// One appearance shared by pages of four frames: the shifted page uses it
// as it is, each turned page a copy of its own whose matrix turns with it,
// and every page looks as the input page did in a viewer.
TEST(TurnedPages, SharedAppearanceTurnsWithEachPage) {
    std::string in = turned_document();
    std::string out = numbered(in);
    const char *matrices[] = {"", "/Matrix [0 -1 1 0 0 0]", "/Matrix [-1 0 0 -1 0 0]", "/Matrix [0 1 -1 0 0 0]"};
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        std::string note = object_at(out, refs_after(object_at(out, 3 + 3 * i), "/Annots").at(1));
        size_t at = note.find("/AP << /N ");
        ASSERT_NE(at, std::string::npos) << note;
        int ap = std::atoi(note.c_str() + at + 10);
        std::string form = object_at(out, ap);
        if (i == 0)
            EXPECT_EQ(form.find("/Matrix"), std::string::npos) << form;
        else
            EXPECT_NE(form.find(matrices[i]), std::string::npos) << form;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), ap), 0) << "page " << i + 1 << " shares " << ap;
        seen.push_back(ap);
    }
    if (!have_tool("pdftoppm")) GTEST_SKIP() << "pdftoppm missing";
    std::string in_path = temp_path("turned-in.pdf"), out_path = temp_path("turned-out.pdf");
    write_file(in_path, in);
    write_file(out_path, out);
    for (int page = 1; page <= 4; ++page) {
        image a = render(in_path, page, true, 36), b = render(out_path, page, true, 36);
        // The label alone differs (about 0.1% of the page); a wedge or
        // rectangle out of place or turned the wrong way is over 1%.
        EXPECT_LT(differing_share(a, b), 0.005) << "page " << page;
    }
}

// An upright (NoRotate) note keeps its size, pinned by its upper-left
// corner, and its appearance is not turned.
TEST(TurnedPages, UprightNoteKeepsItsSize) {
    std::string out = numbered(turned_document({"", "/Rotate 90", "", ""}, "/F 16 "));
    std::string note = object_at(out, refs_after(object_at(out, 6), "/Annots").at(1));
    // The upper-left corner (150, 70) of page 2 lands on (70, 150).
    EXPECT_NE(note.find("/Rect [70 120 150 150]"), std::string::npos) << note;
    size_t at = note.find("/AP << /N ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(object_at(out, std::atoi(note.c_str() + at + 10)).find("/Matrix"), std::string::npos);
}

// A check box whose appearance dictionary and states are objects of their
// own, shared by an upright page and a turned one: the turned page's box
// leads through turned copies of the dictionary to turned forms, the
// upright one through the plain copies.
TEST(TurnedPages, AppearanceChainsAreCopiedPerTurn) {
    std::string box = "<< /Type /Annot /Subtype /Widget /FT /Btn /Rect [10 10 30 30] /AS /On /AP 6 0 R >>";
    std::string pdf = make_pdf(
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 200] >>",
         "<< /Type /Page /Parent 2 0 R /Annots [5 0 R] >>", "<< /Type /Page /Parent 2 0 R /Rotate 270 /Annots [9 0 R] >>",
         box, "<< /N << /On 7 0 R /Off 8 0 R >> >>", stream_body("/Subtype /Form /BBox [0 0 20 20]", "0 0 20 10 re f"),
         stream_body("/Subtype /Form /BBox [0 0 20 20]", ""), box});
    std::string out = numbered(pdf);
    auto ap_of = [&](int page) {
        std::string annot = object_at(out, refs_after(object_at(out, page), "/Annots").at(0));
        size_t at = annot.find("/AP ");
        return at == std::string::npos ? 0 : std::atoi(annot.c_str() + at + 4);
    };
    auto state = [&](int ap, const char *name) {
        std::string dict = object_at(out, ap);
        size_t at = dict.find(std::string("/") + name + " ");
        return at == std::string::npos ? 0 : std::atoi(dict.c_str() + at + std::strlen(name) + 2);
    };
    int plain = ap_of(3), turned = ap_of(6);
    ASSERT_NE(plain, 0);
    ASSERT_NE(turned, 0);
    EXPECT_NE(plain, turned);
    for (const char *name : {"On", "Off"}) {
        EXPECT_EQ(object_at(out, state(plain, name)).find("/Matrix"), std::string::npos) << name;
        EXPECT_NE(object_at(out, state(turned, name)).find("/Matrix [0 1 -1 0 0 0]"), std::string::npos)
            << name << ": " << object_at(out, state(turned, name));
    }
    // The turned page's box: (10, 10)..(30, 30) of a 300 wide page turned 270 lies at (170, 10)..(190, 30).
    EXPECT_NE(object_at(out, refs_after(object_at(out, 6), "/Annots").at(0)).find("/Rect [170 10 190 30]"),
              std::string::npos);
}

// An annotation written inside the page's /Annots is mapped too.
TEST(TurnedPages, InlineAnnotationIsMapped) {
    std::string pdf = make_pdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Rotate 180 /Annots [<< "
                                "/Subtype /Square /Rect [10 20 30 40] /AP << /N 4 0 R >> >>] >>",
                                stream_body("/Subtype /Form /BBox [0 0 20 20]", "0 0 20 10 re f")});
    std::string out = numbered(pdf);
    std::string page = object_at(out, 3);
    EXPECT_NE(page.find("/Annots [<< /Subtype /Square /Rect [270 160 290 180] /AP << /N 6 0 R >> >>]"),
              std::string::npos)
        << page;
    EXPECT_NE(object_at(out, 6).find("/Matrix [-1 0 0 -1 0 0]"), std::string::npos) << object_at(out, 6);
}

// Pages upright at the origin: annotations and destinations are the
// input's texts, only the references renumbered.
TEST(TurnedPages, UnmovedPagesKeepTheirTexts) {
    std::string out = numbered(turned_document({"", "", "", ""}));
    std::string link = object_at(out, refs_after(object_at(out, 3), "/Annots").at(0));
    EXPECT_NE(link.find("<< /Type /Annot /Subtype /Link /Rect [98 97 138 111] /Border [0 0 0] /Dest [6 0 R /XYZ "
                        "100 120 0] >>\n"),
              std::string::npos)
        << link;
    std::string note = object_at(out, refs_after(object_at(out, 3), "/Annots").at(1));
    size_t at = note.find("/AP << /N ");
    ASSERT_NE(at, std::string::npos);
    int ap = std::atoi(note.c_str() + at + 10);
    for (int i = 1; i < 4; ++i)  // one appearance for all
        EXPECT_NE(object_at(out, refs_after(object_at(out, 3 + 3 * i), "/Annots").at(1)).find(
                      "/AP << /N " + std::to_string(ap) + " 0 R"),
                  std::string::npos);
}

}  // namespace
