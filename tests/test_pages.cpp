// The page tree: order, parents, inherited rotation, the visible box and
// resources, and the limits on hostile trees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dedediruzurud.h"
#include "pdf_parse.h"
#include "pdf_parse/load_steps.h"
#include "support.h"

namespace {

struct doc_holder {
    pdfp_doc doc{};
    ~doc_holder() { pdfp_doc_free(&doc); }
};

const std::string CATALOG = "<< /Type /Catalog /Pages 2 0 R >>";

TEST(PageTree, DepthFirstOrderWithParents) {
    // 2 root: [4 5]; 4 Pages: [6 7]; 5, 6, 7 pages.
    std::vector<std::string> b = {CATALOG, "<< /Type /Pages /Kids [4 0 R 5 0 R] /MediaBox [0 0 10 10] >>", "<< /X 1 >>",
                                  "<< /Type /Pages /Parent 2 0 R /Kids [6 0 R 7 0 R] >>",
                                  "<< /Type /Page /Parent 2 0 R >>", "<< /Type /Page /Parent 4 0 R >>",
                                  "<< /Type /Page /Parent 4 0 R >>"};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    ASSERT_EQ(h.doc.pages.count, 3);
    int32_t want_num[] = {6, 7, 5}, want_parent[] = {4, 4, 2};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.doc.pages.items[i].obj_num, want_num[i]);
        EXPECT_EQ(h.doc.pages.items[i].parent_num, want_parent[i]);
        EXPECT_EQ(h.doc.pages.items[i].box_urx, 10);  // inherited from the root
    }
}

TEST(PageTree, RootThatIsAPage) {
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, "<< /Type /Page /MediaBox [0 0 5 6] >>"}), &h.doc), 0);
    ASSERT_EQ(h.doc.pages.count, 1);
    EXPECT_EQ(h.doc.pages.items[0].parent_num, -1);
}

TEST(PageTree, PageListedTwiceGivesTwoEntries) {
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf({CATALOG, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>", "<< /Type /Page >>"}), &h.doc), 0);
    EXPECT_EQ(h.doc.pages.count, 2);
}

TEST(PageTree, SharedPagesNodeIsBroken) {
    std::string msg;
    pdfp_doc doc{};
    EXPECT_EQ(load_bytes(make_pdf({CATALOG, "<< /Type /Pages /Kids [3 0 R 3 0 R] >>", "<< /Type /Pages /Kids [4 0 R] >>",
                                   "<< /Type /Page >>"}),
                         &doc, &msg),
              -1);
    EXPECT_EQ(msg, "broken page tree");
}

struct rot_case {
    std::string root_rot, node_rot, page_rot;
    int32_t inherited;  // pdfp_pageinfo.rotate
    int32_t own;        // obj_rotate_own
};
class Rotation : public ::testing::TestWithParam<rot_case> {};
TEST_P(Rotation, InheritedDownTheWalkOwnReadSeparately) {
    const rot_case &c = GetParam();
    std::vector<std::string> b = {CATALOG, "<< /Type /Pages /Kids [3 0 R] " + c.root_rot + " >>",
                                  "<< /Type /Pages /Kids [4 0 R] " + c.node_rot + " >>",
                                  "<< /Type /Page /MediaBox [0 0 1 1] " + c.page_rot + " >>"};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    ASSERT_EQ(h.doc.pages.count, 1);
    EXPECT_EQ(h.doc.pages.items[0].rotate, c.inherited);
    const pdfp_obj *page = pdfp_obj_find(&h.doc.objs, 4);
    EXPECT_EQ(obj_rotate_own(h.doc.data, h.doc.size, page), c.own);
}
INSTANTIATE_TEST_SUITE_P(Cases, Rotation,
                         ::testing::Values(rot_case{"/Rotate 90", "/Rotate 180", "", 180, -1},
                                           rot_case{"/Rotate 90", "", "", 90, -1},
                                           rot_case{"/Rotate 450", "", "/Rotate 90", 90, 90},
                                           rot_case{"", "/Rotate -90", "/Rotate 450", 270, 90},
                                           rot_case{"", "", "/Rotate -90", 0, 270},
                                           rot_case{"", "", "/Rotate 360", 0, 0},
                                           rot_case{"", "", "/Rotate 45", 0, 45},
                                           rot_case{"", "", "/Rotate x", 0, -1}));

struct box_case {
    std::string page_keys, parent_keys;
    double want[4];
};
class PageBox : public ::testing::TestWithParam<box_case> {};
TEST_P(PageBox, FoundOnThePageOrUpward) {
    const box_case &c = GetParam();
    std::vector<std::string> b = {CATALOG, "<< /Type /Pages /Kids [3 0 R] " + c.parent_keys + " >>",
                                  "<< /Type /Page /Parent 2 0 R " + c.page_keys + " >>", "[0 0 200 300]",
                                  "<< /Not /AnArray >>"};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    const pdfp_pageinfo &p = h.doc.pages.items[0];
    EXPECT_EQ(p.box_llx, c.want[0]);
    EXPECT_EQ(p.box_lly, c.want[1]);
    EXPECT_EQ(p.box_urx, c.want[2]);
    EXPECT_EQ(p.box_ury, c.want[3]);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, PageBox,
    ::testing::Values(box_case{"/MediaBox [0 0 612 792] /CropBox [10 10 600 780]", "", {10, 10, 600, 780}},
                      box_case{"/MediaBox [0 0 612 792]", "/CropBox [1 1 5 5]", {1, 1, 5, 5}},
                      // Nothing usable in reach: US Letter.
                      box_case{"/MediaBox [0 0 612]", "", {0, 0, 612, 792}},
                      box_case{"/MediaBox [0 0 612 0]", "", {0, 0, 612, 792}},
                      box_case{"/MediaBox 8 0 R", "", {0, 0, 612, 792}},  // no object 8
                      box_case{"/MediaBox [100 100 100 50]", "", {0, 0, 612, 792}},  // no area
                      // Any two opposite corners.
                      box_case{"/MediaBox [0 0 -612 792]", "", {-612, 0, 0, 792}},
                      box_case{"/MediaBox [100 100 50 50]", "", {50, 50, 100, 100}},
                      box_case{"/MediaBox [0 0 " + std::string(400, '9') + " 5]", "", {0, 0, 612, 792}},
                      box_case{"/MediaBox 4 0 R", "", {0, 0, 200, 300}},  // an indirect array
                      box_case{"/MediaBox 5 0 R /MediaBox [0 0 9 9]", "", {0, 0, 9, 9}},
                      box_case{"/MediaBox [0 0 612.5 792.25]", "", {0, 0, 612.5, 792.25}},
                      box_case{"/MediaBox [-10 -20 600 800]", "", {-10, -20, 600, 800}},
                      box_case{"/MediaBox [0 0 .5 1]", "", {0, 0, 0.5, 1}},
                      box_case{"/MediaBox [0 0 612 792 99]", "", {0, 0, 612, 792}},
                      box_case{"/MediaBox [0 0 0 1] /MediaBox [0 0 3 4]", "", {0, 0, 3, 4}},
                      box_case{"", "/MediaBox [0 0 7 8]", {0, 0, 7, 8}}));

// The visible box: /CropBox and /MediaBox each from the nearest dictionary
// that holds a usable one (page 4, its parent 3, the root 2), the crop box
// clipped to the media box.
struct visible_case {
    const char *name;
    std::string root_keys, node_keys, page_keys;
    double want[4];
};
void PrintTo(const visible_case &c, std::ostream *os) { *os << c.name; }

class VisibleBox : public ::testing::TestWithParam<visible_case> {};
TEST_P(VisibleBox, CropBoxClippedToMediaBoxEachInheritedOnItsOwn) {
    const visible_case &c = GetParam();
    std::vector<std::string> b = {CATALOG, "<< /Type /Pages /Kids [3 0 R] " + c.root_keys + " >>",
                                  "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R] " + c.node_keys + " >>",
                                  "<< /Type /Page /Parent 3 0 R " + c.page_keys + " >>"};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    const pdfp_pageinfo &p = h.doc.pages.items[0];
    EXPECT_EQ(p.box_llx, c.want[0]);
    EXPECT_EQ(p.box_lly, c.want[1]);
    EXPECT_EQ(p.box_urx, c.want[2]);
    EXPECT_EQ(p.box_ury, c.want[3]);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, VisibleBox,
    ::testing::Values(
        visible_case{"inherited_crop_own_media", "/CropBox [50 70 535.25 801.5]", "", "/MediaBox [0 0 595 842]",
                     {50, 70, 535.25, 801.5}},
        visible_case{"own_crop_clipped", "", "", "/MediaBox [0 0 612 792] /CropBox [-20 100 700 900]",
                     {0, 100, 612, 792}},
        visible_case{"crop_and_media_from_two_ancestors", "/MediaBox [0 0 612 792]", "/CropBox [36 36 576 900]", "",
                     {36, 36, 576, 792}},
        visible_case{"nearer_crop_wins", "/CropBox [1 1 2 2]", "/CropBox [5 5 50 50]", "/MediaBox [0 0 99 99]",
                     {5, 5, 50, 50}},
        visible_case{"unusable_crop_passed_over", "/CropBox [10 10 20 20]", "",
                     "/MediaBox [0 0 612 792] /CropBox [0 0 0 5]", {10, 10, 20, 20}},
        visible_case{"unusable_crop_alone", "", "", "/MediaBox [0 0 612 792] /CropBox [0 0 612]", {0, 0, 612, 792}},
        visible_case{"reversed_crop_normalised", "", "", "/MediaBox [0 0 612 792] /CropBox [600 780 10 10]",
                     {10, 10, 600, 780}},
        visible_case{"crop_outside_media_shows_media", "/CropBox [700 0 800 100]", "", "/MediaBox [0 0 612 792]",
                     {0, 0, 612, 792}},
        visible_case{"crop_touching_media_shows_media", "", "", "/MediaBox [0 0 612 792] /CropBox [612 0 700 792]",
                     {0, 0, 612, 792}}),
    [](const auto &info) { return std::string(info.param.name); });

// The numbered page shows that box: the frame takes its size, the form
// moves it to the origin and turns it.
TEST(VisibleBox, NumberedPageHasTheVisibleSize) {
    std::vector<std::string> b = {CATALOG,
                                  "<< /Type /Pages /Kids [3 0 R] /CropBox [50 70 535.28 801.89] >>",
                                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595.28 841.89] /Rotate 90 "
                                  "/Contents 4 0 R >>",
                                  stream_body("", "0 0 m 100 100 l S")};
    std::string in = temp_path("crop.pdf"), out = temp_path("out.pdf");
    write_file(in, make_pdf(b));
    ASSERT_EQ(dedediruzurud_add(in.c_str(), out.c_str(), 0, "{n}", 12, 1, 0, 0, 0), 1) << dedediruzurud_last_error();
    std::string bytes = read_file(out);
    EXPECT_NE(bytes.find("/MediaBox [0 0 731.8900 485.2800]"), std::string::npos);
    EXPECT_NE(bytes.find("/BBox [50 70 535.2800 801.8900] /Matrix [0 -1 1 0 -70 535.2800]"), std::string::npos);
}

// A chain of Pages nodes, each the only kid of the one before; the box and
// resources sit on the top node.
std::string deep_tree(int levels, const std::string &top_keys) {
    std::vector<std::string> b = {CATALOG};
    for (int i = 0; i < levels; ++i) {
        int self = 2 + i;
        std::string parent = i ? " /Parent " + std::to_string(self - 1) + " 0 R" : "";
        b.push_back("<< /Type /Pages /Kids [" + std::to_string(self + 1) + " 0 R]" + parent + (i ? "" : " " + top_keys) + " >>");
    }
    b.push_back("<< /Type /Page /Parent " + std::to_string(1 + levels) + " 0 R >>");
    return make_pdf(b);
}

TEST(PageTree, BoxAndResourcesInheritedThirtyTwoLevels) {
    const std::string keys = "/MediaBox [0 0 300 400] /Resources << /Font << /F1 9 0 R >> >>";
    doc_holder ok;
    ASSERT_EQ(load_bytes(deep_tree(32, keys), &ok.doc), 0);
    EXPECT_EQ(ok.doc.pages.items[0].box_urx, 300);
    const pdfp_obj *page = pdfp_obj_find(&ok.doc.objs, ok.doc.pages.items[0].obj_num);
    const unsigned char *buf;
    int32_t end;
    obj_text_region(ok.doc.data, ok.doc.size, page, &buf, &end);
    char *res = pdfp_page_resources_dict_deep(ok.doc.data, ok.doc.size, &ok.doc.objs, buf, end, 32);
    ASSERT_NE(res, nullptr);
    EXPECT_STREQ(res, "<< /Font << /F1 9 0 R >> >>");
    std::free(res);

    doc_holder far;
    ASSERT_EQ(load_bytes(deep_tree(33, keys), &far.doc), 0);
    EXPECT_EQ(far.doc.pages.items[0].box_urx, 612);  // out of reach: US Letter
    page = pdfp_obj_find(&far.doc.objs, far.doc.pages.items[0].obj_num);
    obj_text_region(far.doc.data, far.doc.size, page, &buf, &end);
    EXPECT_EQ(pdfp_page_resources_dict_deep(far.doc.data, far.doc.size, &far.doc.objs, buf, end, 32), nullptr);
}

TEST(PageTree, DeepTreesLoadUpToTheLimit) {
    doc_holder fifty;
    EXPECT_EQ(load_bytes(deep_tree(50, "/MediaBox [0 0 1 1]"), &fifty.doc), 0);
    EXPECT_EQ(fifty.doc.pages.count, 1);
    doc_holder limit;
    EXPECT_EQ(load_bytes(deep_tree(PDFP_MAX_TREE_DEPTH, ""), &limit.doc), 0);
    std::string msg;
    pdfp_doc doc{};
    EXPECT_EQ(load_bytes(deep_tree(PDFP_MAX_TREE_DEPTH + 1, ""), &doc, &msg), -1);
    EXPECT_EQ(msg, "broken page tree");
}

struct res_case {
    std::string page_keys;
    std::vector<std::string> extra;  // objects 4, 5, ...
    const char *want;                // null: none
};
class Resources : public ::testing::TestWithParam<res_case> {};
TEST_P(Resources, DictionaryTextOfThePage) {
    const res_case &c = GetParam();
    std::vector<std::string> b = {CATALOG, "<< /Type /Pages /Kids [3 0 R] /Resources << /ProcSet [/PDF] >> >>",
                                  "<< /Type /Page /Parent 2 0 R " + c.page_keys + " >>"};
    b.insert(b.end(), c.extra.begin(), c.extra.end());
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    const pdfp_obj *page = pdfp_obj_find(&h.doc.objs, 3);
    const unsigned char *buf;
    int32_t end;
    obj_text_region(h.doc.data, h.doc.size, page, &buf, &end);
    char *own = page_resources_dict(h.doc.data, h.doc.size, &h.doc.objs, buf, end);
    char *deep = pdfp_page_resources_dict_deep(h.doc.data, h.doc.size, &h.doc.objs, buf, end, 32);
    ASSERT_NE(deep, nullptr);
    if (c.want) {
        ASSERT_NE(own, nullptr);
        EXPECT_STREQ(own, c.want);
        EXPECT_STREQ(deep, c.want);
    } else {
        EXPECT_EQ(own, nullptr);
        EXPECT_STREQ(deep, "<< /ProcSet [/PDF] >>");
    }
    std::free(own);
    std::free(deep);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, Resources,
    ::testing::Values(res_case{"/Resources << /Font << /F1 5 0 R >> >>", {}, "<< /Font << /F1 5 0 R >> >>"},
                      res_case{"/Resources 4 0 R", {"<< /XObject << /Im1 6 0 R >> >>"}, "<< /XObject << /Im1 6 0 R >> >>"},
                      res_case{"", {}, nullptr},
                      res_case{"/Resources 99 0 R", {}, nullptr},
                      res_case{"/Resources [1 2]", {}, nullptr}));

}  // namespace
