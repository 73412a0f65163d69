// Object streams: the header of number pairs, the per-object checks, the
// limits, and which definition wins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pdf_parse.h"
#include "support.h"

namespace {

struct doc_holder {
    pdfp_doc doc{};
    ~doc_holder() { pdfp_doc_free(&doc); }
};

std::string text_of(const pdfp_obj *o) { return std::string(reinterpret_cast<const char *>(o->text), o->text_len); }

// A file whose catalog and page tree live in one Flate object stream
// (object 9), with extra container bodies appended as objects 10, 11, ...
std::string objstm_pdf(const std::string &header_and_texts, const std::string &dict_keys,
                       const std::vector<std::string> &more = {}, bool flate = true) {
    std::string data = flate ? zlib_compress(header_and_texts) : header_and_texts;
    std::string filter = flate ? "/Filter /FlateDecode " : "";
    std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
                                  "<< /Type /Page /MediaBox [0 0 10 10] >>", "null", "null", "null", "null", "null",
                                  stream_body("/Type /ObjStm " + filter + dict_keys, data)};
    b.insert(b.end(), more.begin(), more.end());
    return make_pdf(b);
}

// Header "10 0 11 20 12 35" followed by three texts.
std::string three_objects() {
    std::string hdr = "10 0 11 20 12 35 ";  // 17 bytes + 1 pad = First 18
    hdr += " ";
    std::string t10 = "<< /A 10 >>         ";  // 20 bytes
    std::string t11 = "<< /B 11 >>    ";       // 15 bytes
    std::string t12 = "<< /C 12 >>";
    return hdr + t10 + t11 + t12;
}

TEST(ObjectStream, ObjectsGetTextsFromTheHeader) {
    doc_holder h;
    ASSERT_EQ(load_bytes(objstm_pdf(three_objects(), "/N 3 /First 18"), &h.doc), 0);
    const pdfp_obj *a = pdfp_obj_find(&h.doc.objs, 10), *b = pdfp_obj_find(&h.doc.objs, 11),
                   *c = pdfp_obj_find(&h.doc.objs, 12);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->text_len, 20);
    EXPECT_EQ(b->text_len, 15);
    EXPECT_EQ(c->text_len, static_cast<int32_t>(three_objects().size()) - 18 - 35);
    EXPECT_EQ(text_of(c), "<< /C 12 >>");
    EXPECT_EQ(a->in_objstm, 1);
    EXPECT_EQ(a->gen, 0);
    EXPECT_EQ(a->hdr_pos, -1);
    // The container itself is not kept.
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 9), nullptr);
}

struct bad_case {
    const char *name;
    std::string data;
    std::string keys;
    std::vector<int32_t> present;  // of 10, 11, 12
};
class ObjectStreamDamage : public ::testing::TestWithParam<bad_case> {};
TEST_P(ObjectStreamDamage, OnlySoundObjectsAreAdded) {
    const bad_case &c = GetParam();
    doc_holder h;
    ASSERT_EQ(load_bytes(objstm_pdf(c.data, c.keys), &h.doc), 0);
    for (int32_t num : {10, 11, 12}) {
        bool want = std::find(c.present.begin(), c.present.end(), num) != c.present.end();
        EXPECT_EQ(pdfp_obj_find(&h.doc.objs, num) != nullptr, want) << num;
    }
}
INSTANTIATE_TEST_SUITE_P(
    Cases, ObjectStreamDamage,
    ::testing::Values(bad_case{"n_zero", three_objects(), "/N 0 /First 18", {}},
                      bad_case{"n_too_big", three_objects(), "/N 100001 /First 18", {}},
                      bad_case{"no_n", three_objects(), "/First 18", {}},
                      bad_case{"first_past_end", three_objects(), "/N 3 /First 9999", {}},
                      bad_case{"missing_number", "10 0 11 x <<>>", "/N 2 /First 10", {}},
                      bad_case{"negative_offset", "10 0 11 -4 <<>> <<>>", "/N 2 /First 11", {}},
                      bad_case{"equal_offsets", "10 0 11 0 12 4 <</>><<>>", "/N 3 /First 15", {11, 12}},
                      bad_case{"object_zero", "0 0 11 4 <</>><<>>", "/N 2 /First 10", {11}},
                      bad_case{"plus_sign_ok", "+10 0 11 4 <</>><<>>", "/N 2 /First 12", {10, 11}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ObjectStream, UnknownFilterContainerIsSkipped) {
    std::string data = three_objects();
    std::vector<std::string> b = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] >>",
                                  "<< /Type /Page /MediaBox [0 0 10 10] >>",
                                  stream_body("/Type /ObjStm /N 3 /First 18 /Filter /LZWDecode", "\x80\x0b\x60\x50"),
                                  stream_body("/Type /ObjStm /N 3 /First 18 /Filter /JBIG2Decode", data)};
    doc_holder h;
    ASSERT_EQ(load_bytes(make_pdf(b), &h.doc), 0);
    EXPECT_EQ(pdfp_obj_find(&h.doc.objs, 10), nullptr);
}

TEST(ObjectStream, UncompressedContainerIsRead) {
    doc_holder h;
    ASSERT_EQ(load_bytes(objstm_pdf(three_objects(), "/N 3 /First 18", {}, false), &h.doc), 0);
    EXPECT_NE(pdfp_obj_find(&h.doc.objs, 12), nullptr);
}

TEST(ObjectStream, DirectDefinitionWinsWhateverTheOrder) {
    // Object 3 (the page) is in the file; a container later redefines it.
    std::string later = "3 0 11 20 <</Type/Page/MediaBox[0 0 99 99]>> <<>>";
    std::string bytes = objstm_pdf(later, "/N 2 /First 10");
    doc_holder h;
    ASSERT_EQ(load_bytes(bytes, &h.doc), 0);
    const pdfp_obj *p = pdfp_obj_find(&h.doc.objs, 3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->in_objstm, 0);
    EXPECT_EQ(h.doc.pages.items[0].box_urx, 10);
}

TEST(ObjectStream, LaterContainerWinsAmongContainers) {
    std::string first = "10 0 <</V 1>>";
    std::string second = "10 0 <</V 2>>";
    std::string bytes = objstm_pdf(first, "/N 1 /First 5",
                                   {stream_body("/Type /ObjStm /Filter /FlateDecode /N 1 /First 5", zlib_compress(second))});
    doc_holder h;
    ASSERT_EQ(load_bytes(bytes, &h.doc), 0);
    const pdfp_obj *o = pdfp_obj_find(&h.doc.objs, 10);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(text_of(o), "<</V 2>>");
}

TEST(ObjectStream, PageTreeAndCatalogOnlyInAContainer) {
    // No trailer /Root: the catalog is found by its /Catalog inside the container.
    std::string t1 = "<< /Type /Catalog /Pages 2 0 R >>";
    std::string t2 = "<< /Type /Pages /Kids [3 0 R] >>";
    std::string t3 = "<< /Type /Page /MediaBox [0 0 50 60] >>";
    std::string texts = "1 0 2 " + std::to_string(t1.size()) + " 3 " + std::to_string(t1.size() + t2.size());
    texts += std::string(14 - texts.size(), ' ');
    std::string data = texts + t1 + t2 + t3;
    std::string file = "%PDF-1.5\n7 0 obj\n" + stream_body("/Type /ObjStm /Filter /FlateDecode /N 3 /First 14", zlib_compress(data)) +
                       "\nendobj\n";
    doc_holder h;
    ASSERT_EQ(load_bytes(file, &h.doc), 0);
    EXPECT_EQ(h.doc.catalog, 1);
    ASSERT_EQ(h.doc.pages.count, 1);
    EXPECT_EQ(h.doc.pages.items[0].box_ury, 60);
}

TEST(ObjectStream, HighlyCompressedContainerGrowsItsCapacity) {
    // 600 objects of 4 KiB of spaces each: far beyond 8 x the encoded size.
    std::string hdr, body;
    for (int i = 0; i < 600; ++i) {
        hdr += std::to_string(100 + i) + " " + std::to_string(i * 4096) + " ";
        std::string t = "<< /I " + std::to_string(i) + " >>";
        body += t + std::string(4096 - t.size(), ' ');
    }
    std::string data = hdr + body;
    doc_holder h;
    ASSERT_EQ(load_bytes(objstm_pdf(data, "/N 600 /First " + std::to_string(hdr.size())), &h.doc), 0);
    EXPECT_NE(pdfp_obj_find(&h.doc.objs, 699), nullptr);
}

}  // namespace
