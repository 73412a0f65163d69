// Object streams: each container is decoded once and its objects are added
// to the table as texts pointing into the decoded data, which the
// document's arena keeps until the document is freed.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "filters.h"
#include "load_steps.h"
#include "messages.h"

namespace {

constexpr int64_t MAX_ENCODED = 268435456;      // longer containers are skipped
constexpr uint64_t LAST_CAPACITY = 0x0FFFFFFF;  // a failure above this is final
constexpr int32_t MAX_OBJECTS = 100000;
constexpr int32_t MAX_TEXT = 1048576;

// Names of filters other than Flate: their presence sends a container
// through the general filter chain.
const char *const OTHER_FILTERS[] = {"LZWDecode", "LZW", "ASCII85Decode", "A85", "ASCIIHexDecode",
                                     "AHx", "RunLengthDecode", "RL", "DecodeParms", "DP"};

bool plain_flate(const unsigned char *data, int32_t from, int32_t to) {
    if (find_name(data, to, from, to, "FlateDecode") < 0) return false;
    for (const char *name : OTHER_FILTERS)
        if (find_name(data, to, from, to, name) >= 0) return false;
    return true;
}

// The first room for a container's decoded data: 8 x its length + 64.
uint64_t first_capacity(int32_t L) { return 8 * static_cast<uint64_t>(L) + 64; }

// The most room a container's decoding tries. Growing fourfold from the
// first room, the attempts end once one above LAST_CAPACITY, or one with
// room for all that deflate can make of L bytes, has failed; an attempt
// beyond the decoder's limit cannot succeed and does not count. 0 when no
// attempt can succeed.
uint64_t most_capacity(int32_t L) {
    uint64_t best = 0;
    for (uint64_t cap = first_capacity(L);; cap *= 4) {
        if (cap <= INFLATE_MAX_OUTPUT) best = cap;
        if (cap > LAST_CAPACITY || cap >= flate_cap_limit(static_cast<uint64_t>(L))) return best;
    }
}

// Inflates into the arena's open chunk, or into a block of its own when
// the room tried is too big for one; the block of a failed attempt is
// released at once so a damaged container cannot pin a gigabyte of dead
// memory.
unsigned char *inflate_container(pdfp_arena *arena, const unsigned char *src, int32_t L, int32_t *out_len) {
    const uint64_t most = most_capacity(L);
    if (most == 0) return nullptr;
    unsigned char *block = nullptr;
    bool in_chunk = false;
    auto room = [arena, &block, &in_chunk](uint64_t cap) {
        if (block && !in_chunk) arena_release_last(arena, block);
        block = arena_chunk_room(arena, cap);
        in_chunk = block != nullptr;
        if (!block) block = arena_alloc(arena, static_cast<size_t>(cap));
        return block;
    };
    uint64_t produced = 0;
    if (inflate_growing(src, static_cast<uint64_t>(L), first_capacity(L), most, room, &produced) < 0) {
        if (block && !in_chunk) arena_release_last(arena, block);
        return nullptr;
    }
    *out_len = static_cast<int32_t>(produced);
    if (in_chunk) {
        arena_chunk_take(arena, produced);
        return block;
    }
    // Give back what the generous first guess did not need.
    void *p = std::realloc(block, produced ? static_cast<size_t>(produced) : 1);
    if (p) {
        block = static_cast<unsigned char *>(p);
        arena->blocks[arena->count - 1] = block;
    }
    return block;
}

// Decoded data of a container, kept in the arena; null to skip it.
unsigned char *container_data(pdfp_doc *doc, const pdfp_obj &o, int32_t dict_end, int32_t *out_len) {
    const int32_t L = o.data_end - o.data_start;
    const unsigned char *src = doc->data + o.data_start;
    if (plain_flate(doc->data, o.dict_pos, dict_end)) return inflate_container(&doc->arena, src, L, out_len);
    pdfp_buf out{};
    // Chains of expanding filters are held to what the file could need.
    int r = pdfp_decode_filters(doc->data, o.dict_pos, dict_end, src, L, &out, pdfp_work_limit(doc->size));
    if (r < 0) {
        pdfp_buf_free(&out);
        return nullptr;
    }
    if (r == 0) {
        // No filter: the bytes are used as they stand.
        unsigned char *block = arena_alloc(&doc->arena, static_cast<size_t>(L) + 1);
        if (block) std::memcpy(block, src, static_cast<size_t>(L));
        *out_len = L;
        return block;
    }
    if (out.len > static_cast<uint64_t>(MAX_FILE_BYTES) || !arena_adopt(&doc->arena, out.data)) {
        pdfp_buf_free(&out);
        return nullptr;
    }
    *out_len = static_cast<int32_t>(out.len);
    return out.data;
}

void add_objects(pdfp_doc *doc, const unsigned char *dec, int32_t dec_len, int32_t n, int32_t first) {
    // The header of number pairs; one bad number spoils the whole container.
    int32_t *hdr = static_cast<int32_t *>(std::malloc(static_cast<size_t>(n) * 2 * sizeof(int32_t)));
    if (!hdr) return;
    int32_t pos = 0;
    for (int32_t i = 0; i < 2 * n; ++i) {
        hdr[i] = read_int_adv(dec, dec_len, &pos);
        if (hdr[i] < 0) {
            std::free(hdr);
            return;
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        int32_t num = hdr[2 * i], off = hdr[2 * i + 1];
        int64_t start = static_cast<int64_t>(first) + off;
        int64_t len = i + 1 < n ? static_cast<int64_t>(hdr[2 * i + 3]) - off
                                : static_cast<int64_t>(dec_len) - first - off;
        if (num <= 0 || len < 1 || len > MAX_TEXT || start < 0 || start + len > dec_len) continue;
        pdfp_obj e{};
        e.num = num;
        e.hdr_pos = e.dict_pos = e.stream_pos = e.data_start = e.data_end = -1;
        e.endobj_pos = e.obj_end = e.data_len = -1;
        e.in_objstm = 1;
        e.text = dec + start;
        e.text_len = static_cast<int32_t>(len);
        objvec_push(&doc->objs, &e);
    }
    std::free(hdr);
}

constexpr int32_t MAX_NESTED = 1000;  // object streams read from inside others

// The stream data of a nested container's text [0, len) whose "stream"
// keyword is at k: a /Length that "endstream" confirms, else up to
// "endstream", else to the end of the text.
void nested_data(const unsigned char *text, int32_t len, int32_t k, int32_t *start, int32_t *end) {
    *start = stream_data_start(text, len, k);
    if (*start > len) *start = len;
    int32_t direct, indirect;
    parse_length(text, len, 0, k, &direct, &indirect);
    int64_t e = static_cast<int64_t>(*start) + direct;
    if (direct >= 0 && e <= len && endstream_at(text, len, e)) {
        *end = static_cast<int32_t>(e);
        return;
    }
    int32_t at = find_kw(text, len, *start, "endstream");
    *end = at < 0 ? len : std::max(*start, end_before_endstream(text, *start, at));
}

// Reads the objects of the container that an object stream lists as one of
// its own objects, as viewers do: true when it was one.
bool read_nested(pdfp_doc *doc, const pdfp_obj &o, uint64_t *budget) {
    int32_t k = -1;
    if (!nested_objstm(o, &k)) return false;
    int32_t start, end;
    nested_data(o.text, o.text_len, k, &start, &end);
    pdfp_buf out{};
    int r = pdfp_decode_filters(o.text, 0, k, o.text + start, end - start, &out, *budget);
    const unsigned char *dec = nullptr;
    int32_t dec_len = 0;
    if (r > 0 && out.len <= *budget) {
        unsigned char *block = out.data;
        dec_len = static_cast<int32_t>(out.len);
        out = pdfp_buf{};
        if (arena_adopt(&doc->arena, block)) dec = block;  // a failed adoption frees the block
    } else if (r == 0) {
        dec = o.text + start;  // the container's own arena block holds these bytes
        dec_len = end - start;
    }
    pdfp_buf_free(&out);
    if (!dec) return true;
    *budget -= static_cast<uint64_t>(dec_len);
    int32_t n = int_after_key(o.text, 0, k, o.text_len, "N", [](int32_t v) { return v > 0; });
    int32_t first = int_after_key(o.text, 0, k, o.text_len, "First", [](int32_t v) { return v >= 0; });
    if (n < 1 || n > MAX_OBJECTS || first < 0 || first > dec_len) return true;
    add_objects(doc, dec, dec_len, n, first);
    pdfp_notice(doc, MSG_NOTE_NESTED_OBJSTM, o.num);
    return true;
}

}  // namespace

bool nested_objstm(const pdfp_obj &o, int32_t *stream_kw) {
    if (!o.in_objstm || !o.text) return false;
    // Nearly every packed object lacks the name: a quick search spares the
    // walk through its dictionary.
    std::string_view text(reinterpret_cast<const char *>(o.text), static_cast<size_t>(o.text_len));
    if (text.find("ObjStm") == std::string_view::npos) return false;
    int32_t p = skip_ws(o.text, 0, o.text_len);
    if (p + 1 >= o.text_len || o.text[p] != '<' || o.text[p + 1] != '<') return false;
    int32_t k = dict_stream_kw(o.text, o.text_len, p);
    if (k < 0 || find_name_top(o.text, o.text_len, p, k, "ObjStm") < 0) return false;
    *stream_kw = k;
    return true;
}

int32_t objstm_dict_end(const pdfp_doc *doc, const pdfp_obj &o) {
    if (o.in_objstm || !o.has_stream || o.dict_pos < 0) return -1;
    const int32_t end = o.stream_pos > 0 ? o.stream_pos : doc->size;
    return find_name_top(doc->data, doc->size, o.dict_pos, end, "ObjStm") >= 0 ? end : -1;
}

void load_objstms(pdfp_doc *doc) {
    struct container {
        const unsigned char *dec;
        int32_t dec_len, n, first;
    };
    // Decoded first, so that the table grows once by what they hold: the
    // number of entries each can give is bounded by its header's length.
    std::vector<container> found;
    int64_t entries = 0;
    const int32_t count = doc->objs.count;  // appended entries are not visited
    for (int32_t i = 0; i < count; ++i) {
        const pdfp_obj &o = doc->objs.items[i];
        const int32_t dict_end = objstm_dict_end(doc, o);
        if (dict_end < 0) continue;
        if (static_cast<int64_t>(o.data_end) - o.data_start > MAX_ENCODED) continue;
        int32_t dec_len = 0;
        const unsigned char *dec = container_data(doc, o, dict_end, &dec_len);
        if (!dec) continue;
        // The integers are read up to the end of the file, not of the dictionary.
        int32_t n = int_after_key(doc->data, o.dict_pos, dict_end, doc->size, "N", [](int32_t v) { return v > 0; });
        int32_t first =
            int_after_key(doc->data, o.dict_pos, dict_end, doc->size, "First", [](int32_t v) { return v >= 0; });
        if (n < 1 || n > MAX_OBJECTS || first < 0 || first > dec_len) continue;
        found.push_back({dec, dec_len, n, first});
        entries += std::min<int64_t>(n, first / 4 + 1);
    }
    objvec_reserve(&doc->objs, static_cast<int32_t>(std::min<int64_t>(entries, PDFP_MAX_OBJ_NUM)));
    for (const container &c : found) add_objects(doc, c.dec, c.dec_len, c.n, c.first);
    // Containers listed as objects of other containers, to any depth: the
    // loop reaches the entries that each one adds.
    uint64_t budget = pdfp_work_limit(doc->size);
    for (int32_t i = count, nested = 0; i < doc->objs.count && nested < MAX_NESTED; ++i) {
        const pdfp_obj o = doc->objs.items[i];  // a copy: pushes may move the table
        if (read_nested(doc, o, &budget)) ++nested;
    }
}
