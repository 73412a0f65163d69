// truetype_subset: the closure of a glyph set over composite components,
// and the writer of sfnt files (table directory, padding, checksums) that
// the subset and the whole-face copy share.
#include "truetype_subset.h"

#include <algorithm>
#include <cstring>

#include "messages.h"

namespace {

constexpr uint32_t SFNT_VERSION = 0x00010000;
constexpr uint32_t SFNT_HEADER = 12;
constexpr uint32_t SFNT_RECORD = 16;
// head.checkSumAdjustment makes the whole file sum to this.
constexpr uint32_t CHECKSUM_MAGIC = 0xB1B0AFBA;
constexpr uint32_t HEAD_ADJUSTMENT_AT = 8;
constexpr uint32_t HEAD_LOCA_FORMAT_AT = 50;
constexpr uint32_t HEAD_LENGTH = 54;
constexpr uint32_t HHEA_LENGTH = 36;
constexpr uint32_t HHEA_METRIC_COUNT_AT = 34;
constexpr uint32_t MAXP_GLYPH_COUNT_AT = 4;
constexpr uint32_t POST_HEADER = 32;
constexpr uint32_t POST_FORMAT_3 = 0x00030000;
// Short loca offsets count 16-bit words.
constexpr uint64_t SHORT_LOCA_LIMIT = 2 * 0xFFFFu;

using bytes = std::vector<unsigned char>;

struct out_table {
    uint32_t tag;
    bytes data;
};

void put16(bytes *b, uint32_t v) {
    b->push_back(static_cast<unsigned char>(v >> 8));
    b->push_back(static_cast<unsigned char>(v));
}

void put32(bytes *b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

void set16(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

void set32(unsigned char *p, uint32_t v) {
    set16(p, v >> 16);
    set16(p + 2, v & 0xFFFF);
}

bytes table_copy(const tt_font *f, const tt_table &t, uint32_t at_least = 0) {
    bytes b(f->data + t.offset, f->data + t.offset + t.length);
    if (b.size() < at_least) b.resize(at_least, 0);
    return b;
}

// The file: directory sorted by tag, each table on a 4-byte boundary and
// padded with zeros, its checksum, then head's checkSumAdjustment (head is
// summed with the adjustment zero, as the format defines).
void sfnt_write(std::vector<out_table> tables, bytes *file) {
    std::sort(tables.begin(), tables.end(), [](const out_table &a, const out_table &b) { return a.tag < b.tag; });
    uint32_t count = static_cast<uint32_t>(tables.size()), power = 1, log2 = 0;
    while (power * 2 <= count) power *= 2, ++log2;
    file->clear();
    put32(file, SFNT_VERSION);
    put16(file, count);
    put16(file, power * SFNT_RECORD);
    put16(file, log2);
    put16(file, count * SFNT_RECORD - power * SFNT_RECORD);
    uint64_t offset = SFNT_HEADER + uint64_t(count) * SFNT_RECORD, head_at = 0;
    for (out_table &t : tables) {
        if (t.tag == tt_tag("head")) {
            set32(t.data.data() + HEAD_ADJUSTMENT_AT, 0);
            head_at = offset;
        }
        put32(file, t.tag);
        put32(file, tt_checksum(t.data.data(), t.data.size()));
        put32(file, static_cast<uint32_t>(offset));
        put32(file, static_cast<uint32_t>(t.data.size()));
        offset += (t.data.size() + 3) & ~uint64_t(3);
    }
    for (const out_table &t : tables) {
        file->insert(file->end(), t.data.begin(), t.data.end());
        file->resize((file->size() + 3) & ~size_t(3), 0);
    }
    if (head_at) set32(file->data() + head_at + HEAD_ADJUSTMENT_AT, CHECKSUM_MAGIC - tt_checksum(file->data(), file->size()));
}

// Depth-first walk of glyph's components, below the glyph `root` that was
// asked for (which a nesting too deep is told by). height[g]: levels of
// composites below and at g (0 for a simple glyph); -1 unseen, -2 being
// walked (so meeting it again closes a loop).
bool walk_components(const tt_font *f, uint16_t root, uint16_t glyph, int depth, std::vector<int> *height,
                     std::string *error) {
    const char *name = f->name.c_str();
    if (depth > TT_MAX_COMPONENT_DEPTH)
        return tt_fail(error, MSG_FONT_COMPOSITE_DEPTH, name, int(root), TT_MAX_COMPONENT_DEPTH);
    std::vector<tt_component> parts;
    if (!tt_glyph_components(f, glyph, &parts, error)) return false;
    (*height)[glyph] = -2;
    int h = 0;
    for (const tt_component &p : parts) {
        if ((*height)[p.glyph] == -2) return tt_fail(error, MSG_FONT_COMPOSITE_LOOP, name, int(p.glyph));
        if ((*height)[p.glyph] == -1 && !walk_components(f, root, p.glyph, depth + 1, height, error)) return false;
        h = std::max(h, (*height)[p.glyph] + 1);
    }
    if (depth + h > TT_MAX_COMPONENT_DEPTH)
        return tt_fail(error, MSG_FONT_COMPOSITE_DEPTH, name, int(root), TT_MAX_COMPONENT_DEPTH);
    (*height)[glyph] = h;
    return true;
}

// glyf and loca of the subset: each glyph's outline copied (padded to an
// even length, which short loca offsets need), component ids renumbered.
bool subset_outlines(const tt_font *f, const std::vector<uint16_t> &glyphs, bytes *glyf,
                     std::vector<uint32_t> *loca, std::string *error) {
    std::vector<tt_component> parts;
    for (uint16_t g : glyphs) {
        uint32_t offset = 0, length = 0;
        if (!tt_glyph_bytes(f, g, &offset, &length, error) || !tt_glyph_components(f, g, &parts, error))
            return false;
        loca->push_back(static_cast<uint32_t>(glyf->size()));
        size_t start = glyf->size();
        glyf->insert(glyf->end(), f->data + offset, f->data + offset + length);
        for (const tt_component &p : parts) {
            auto it = std::lower_bound(glyphs.begin(), glyphs.end(), p.glyph);
            if (it == glyphs.end() || *it != p.glyph)  // not a closed list
                return tt_fail(error, MSG_FONT_BAD_GLYPH, f->name.c_str(), int(g));
            set16(glyf->data() + start + p.index_at, static_cast<uint32_t>(it - glyphs.begin()));
        }
        if (glyf->size() % 2) glyf->push_back(0);
    }
    loca->push_back(static_cast<uint32_t>(glyf->size()));
    return true;
}

// hmtx of the subset; the advances of a trailing run of equal ones are
// written once (the format repeats the last). Returns numberOfHMetrics.
uint32_t subset_metrics(const tt_font *f, const std::vector<uint16_t> &glyphs, bytes *hmtx) {
    size_t n = glyphs.size(), full = n;
    while (full > 1 && tt_advance(f, glyphs[full - 2]) == tt_advance(f, glyphs[n - 1])) --full;
    for (size_t k = 0; k < n; ++k) {
        if (k < full) put16(hmtx, tt_advance(f, glyphs[k]));
        put16(hmtx, static_cast<uint16_t>(tt_left_side_bearing(f, glyphs[k])));
    }
    return static_cast<uint32_t>(full);
}

}  // namespace

bool tt_embedding_of(const tt_font *font, tt_embedding *how, std::string *error) {
    uint16_t fs = font->fs_type;
    if ((fs & TT_FS_USAGE_BITS) == TT_FS_RESTRICTED) return tt_fail(error, MSG_FONT_RESTRICTED, font->name.c_str());
    if (fs & TT_FS_BITMAP_ONLY) return tt_fail(error, MSG_FONT_BITMAP_ONLY, font->name.c_str());
    *how = fs & TT_FS_NO_SUBSETTING ? TT_EMBED_WHOLE : TT_EMBED_SUBSET;
    return true;
}

bool tt_glyph_closure(const tt_font *font, std::vector<uint16_t> *glyphs, std::string *error) {
    std::vector<int> height(font->glyph_count, -1);
    glyphs->push_back(0);
    std::vector<uint16_t> roots = *glyphs;
    for (uint16_t g : roots) {
        if (g >= font->glyph_count) return tt_fail(error, MSG_FONT_BAD_GLYPH, font->name.c_str(), int(g));
        if (height[g] == -1 && !walk_components(font, g, g, 0, &height, error)) return false;
    }
    glyphs->clear();
    for (uint32_t g = 0; g < font->glyph_count; ++g)
        if (height[g] >= 0) glyphs->push_back(static_cast<uint16_t>(g));
    return true;
}

bool tt_subset(const tt_font *font, const std::vector<uint16_t> &glyphs, std::vector<unsigned char> *file,
               std::string *error) {
    bytes glyf, hmtx;
    std::vector<uint32_t> loca;
    if (!subset_outlines(font, glyphs, &glyf, &loca, error)) return false;
    uint32_t metric_count = subset_metrics(font, glyphs, &hmtx);
    bool long_loca = glyf.size() > SHORT_LOCA_LIMIT;
    bytes loca_bytes;
    for (uint32_t o : loca) long_loca ? put32(&loca_bytes, o) : put16(&loca_bytes, o / 2);

    bytes head = table_copy(font, font->head);
    head.resize(HEAD_LENGTH);
    set16(head.data() + HEAD_LOCA_FORMAT_AT, long_loca ? 1 : 0);
    bytes hhea = table_copy(font, font->hhea);
    hhea.resize(HHEA_LENGTH);
    set16(hhea.data() + HHEA_METRIC_COUNT_AT, metric_count);
    bytes maxp = table_copy(font, font->maxp);
    set16(maxp.data() + MAXP_GLYPH_COUNT_AT, static_cast<uint32_t>(glyphs.size()));
    bytes post = font->post.present ? table_copy(font, font->post) : bytes(POST_HEADER, 0);
    post.resize(POST_HEADER);
    set32(post.data(), POST_FORMAT_3);

    std::vector<out_table> tables = {
        {tt_tag("head"), std::move(head)}, {tt_tag("hhea"), std::move(hhea)}, {tt_tag("maxp"), std::move(maxp)},
        {tt_tag("hmtx"), std::move(hmtx)}, {tt_tag("loca"), std::move(loca_bytes)},
        {tt_tag("glyf"), std::move(glyf)}, {tt_tag("post"), std::move(post)}};
    const std::pair<uint32_t, const tt_table *> hinting[] = {
        {tt_tag("cvt "), &font->cvt}, {tt_tag("fpgm"), &font->fpgm}, {tt_tag("prep"), &font->prep}};
    for (const auto &[tag, table] : hinting)
        if (table->present) tables.push_back({tag, table_copy(font, *table)});
    sfnt_write(std::move(tables), file);
    return true;
}

void tt_face_file(const tt_font *font, std::vector<unsigned char> *file) {
    std::vector<out_table> tables;
    for (const auto &entry : font->tables) {
        uint32_t tag = entry.first;
        bool repeated = std::any_of(tables.begin(), tables.end(), [tag](const out_table &t) { return t.tag == tag; });
        if (!repeated) tables.push_back({tag, table_copy(font, entry.second, tag == tt_tag("head") ? HEAD_LENGTH : 0)});
    }
    sfnt_write(std::move(tables), file);
}
