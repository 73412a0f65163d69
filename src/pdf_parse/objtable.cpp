// The document's vectors (object table, arena of decoded blocks, page list),
// object lookup by number, and what the readers ask of one entry: its text
// region, its kind and where its value begins.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "load_steps.h"

namespace {

// Moves a vector's count items into fresh storage for ncap of them from
// pdfp_big_alloc; false leaves it as it was.
template <typename T>
bool move_to_big(T **items, int32_t count, int32_t *cap, int32_t ncap) {
    void *p = pdfp_big_alloc(static_cast<uint64_t>(ncap) * sizeof(T));
    if (!p) return false;
    if (count > 0) std::memcpy(p, *items, static_cast<size_t>(count) * sizeof(T));
    std::free(*items);
    *items = static_cast<T *>(p);
    *cap = ncap;
    return true;
}

// Doubles a vector's room (first room `initial`); false leaves it as it was.
template <typename T>
bool grow(T **items, int32_t count, int32_t *cap, int32_t initial) {
    if (count < *cap) return true;
    if (*cap > INT32_MAX / 2) return false;
    int32_t ncap = *cap ? *cap * 2 : initial;
    const uint64_t bytes = static_cast<uint64_t>(ncap) * sizeof(T);
    // A big table moves into storage that big pages back whole.
    if (bytes >= PDFP_BIG_PAGE) return move_to_big(items, count, cap, ncap);
    void *p = std::realloc(*items, static_cast<size_t>(bytes));
    if (!p) return false;
    *items = static_cast<T *>(p);
    *cap = ncap;
    return true;
}

}  // namespace

int objvec_push(pdfp_objvec *objs, const pdfp_obj *entry) {
    if (!grow(&objs->items, objs->count, &objs->cap, 128)) return 0;
    objs->items[objs->count++] = *entry;
    return 1;
}

int objvec_reserve(pdfp_objvec *objs, int32_t extra) {
    if (extra <= objs->cap - objs->count) return 1;
    if (extra > INT32_MAX - objs->count) return 0;
    return move_to_big(&objs->items, objs->count, &objs->cap, objs->count + extra) ? 1 : 0;
}

int pagevec_push(pdfp_pagevec *pages, const pdfp_pageinfo *entry) {
    if (!grow(&pages->items, pages->count, &pages->cap, 64)) return 0;
    pages->items[pages->count++] = *entry;
    return 1;
}

int arena_adopt(pdfp_arena *arena, unsigned char *block) {
    if (!grow(&arena->blocks, arena->count, &arena->cap, 4)) {
        std::free(block);
        return 0;
    }
    arena->blocks[arena->count++] = block;
    return 1;
}

unsigned char *arena_alloc(pdfp_arena *arena, size_t n) {
    unsigned char *block = static_cast<unsigned char *>(std::malloc(n ? n : 1));
    if (!block || !arena_adopt(arena, block)) return nullptr;
    return block;
}

unsigned char *arena_chunk_room(pdfp_arena *arena, uint64_t n) {
    // Blocks above a quarter of a big chunk keep their own storage, so that
    // a chunk is never left mostly empty.
    if (n > PDFP_BIG_PAGE / 4) return nullptr;
    if (!arena->chunk || arena->chunk_used + n > arena->chunk_cap) {
        // The first chunk keeps small pages, so that a small document holds
        // no big page it hardly uses; the next ones take big pages.
        constexpr uint64_t FIRST_CHUNK = PDFP_BIG_PAGE / 2;
        uint64_t cap = std::clamp<uint64_t>(2 * arena->chunk_cap, FIRST_CHUNK, PDFP_BIG_PAGE);
        while (cap < n) cap *= 2;
        auto *chunk = static_cast<unsigned char *>(pdfp_big_alloc(cap));
        if (!chunk || !arena_adopt(arena, chunk)) return nullptr;
        arena->chunk = chunk;
        arena->chunk_used = 0;
        arena->chunk_cap = cap;
    }
    return arena->chunk + arena->chunk_used;
}

void arena_chunk_take(pdfp_arena *arena, uint64_t n) { arena->chunk_used += n; }

void arena_release_last(pdfp_arena *arena, unsigned char *block) {
    if (arena->count > 0 && arena->blocks[arena->count - 1] == block) {
        std::free(block);
        --arena->count;
    }
}

int pdfp_obj_has_stream(const pdfp_obj *obj) { return obj->has_stream; }

void objvec_build_index(pdfp_objvec *objs) {
    std::free(objs->index);
    objs->index = nullptr;
    objs->index_len = 0;
    objs->index_sparse = 0;
    int32_t max_num = 0;
    for (int32_t i = 0; i < objs->count; ++i) max_num = std::max(max_num, objs->items[i].num);
    if (numbers_dense(max_num, objs->count)) {
        int32_t *idx = static_cast<int32_t *>(std::malloc((static_cast<size_t>(max_num) + 1) * sizeof(int32_t)));
        if (!idx) return;
        std::fill(idx, idx + max_num + 1, -1);
        // Walk backwards so that the first entry of a number wins, as the
        // linear search would have it.
        for (int32_t i = objs->count - 1; i >= 0; --i)
            if (objs->items[i].num >= 0) idx[objs->items[i].num] = i;
        objs->index = idx;
        objs->index_len = max_num + 1;
        return;
    }
    int32_t *idx = static_cast<int32_t *>(std::malloc(static_cast<size_t>(objs->count) * sizeof(int32_t)));
    if (!idx) return;
    for (int32_t i = 0; i < objs->count; ++i) idx[i] = i;
    const pdfp_obj *items = objs->items;
    std::stable_sort(idx, idx + objs->count,
                     [items](int32_t a, int32_t b) { return items[a].num < items[b].num; });
    objs->index = idx;
    objs->index_len = objs->count;
    objs->index_sparse = 1;
}

const pdfp_obj *pdfp_obj_find(const pdfp_objvec *objs, int32_t num) {
    if (objs->index && !objs->index_sparse) {
        if (num < 0 || num >= objs->index_len) return nullptr;
        int32_t i = objs->index[num];
        return i >= 0 ? &objs->items[i] : nullptr;
    }
    if (objs->index) {
        const pdfp_obj *items = objs->items;
        const int32_t *it = std::lower_bound(objs->index, objs->index + objs->index_len, num,
                                             [items](int32_t pos, int32_t n) { return items[pos].num < n; });
        if (it != objs->index + objs->index_len && items[*it].num == num) return &items[*it];
        return nullptr;
    }
    for (int32_t i = 0; i < objs->count; ++i)
        if (objs->items[i].num == num) return &objs->items[i];
    return nullptr;
}

int32_t obj_text_region(const unsigned char *data, int32_t size, const pdfp_obj *obj,
                        const unsigned char **buf, int32_t *end) {
    if (obj->in_objstm) {
        if (!obj->text || obj->text_len <= 0) return -1;
        *buf = obj->text;
        *end = obj->text_len;
        return 0;
    }
    if (obj->dict_pos < 0) return -1;
    *buf = data;
    *end = obj->stream_pos > 0 ? obj->stream_pos : obj->endobj_pos > 0 ? obj->endobj_pos : size;
    return obj->dict_pos;
}

bool obj_dict_value(const unsigned char *data, int32_t size, const pdfp_obj *obj, const char *key,
                    const unsigned char **buf, int32_t *vs, int32_t *ve) {
    int32_t end = 0;
    int32_t start = obj_text_region(data, size, obj, buf, &end);
    return start >= 0 && dict_value(*buf, start, end, key, vs, ve);
}

int32_t obj_value_at(const unsigned char *data, int32_t size, const pdfp_obj *obj, const unsigned char **buf,
                     int32_t *end) {
    if (obj->in_objstm) {
        if (!obj->text || obj->text_len <= 0) return -1;
        *buf = obj->text;
        *end = obj->text_len;
        int32_t p = skip_ws(obj->text, 0, obj->text_len);
        return p < obj->text_len ? p : -1;
    }
    *buf = data;
    *end = obj->stream_pos > 0 ? obj->stream_pos : obj->endobj_pos > 0 ? obj->endobj_pos : size;
    int32_t p = obj->dict_pos >= 0 ? obj->dict_pos : obj_value_start(data, *end, obj->hdr_pos);
    return p >= 0 && p < *end ? p : -1;
}

const pdfp_obj *obj_named_by(const pdfp_objvec *objs, const unsigned char *b, int32_t vs, int32_t ve) {
    int32_t start, num, after;
    if (!pdfp_next_ref(b, ve, vs, true, &start, &num, &after) || start != vs || after != ve) return nullptr;
    return pdfp_obj_find(objs, num);
}

int obj_type(const unsigned char *data, int32_t len, const pdfp_obj *obj) {
    const unsigned char *buf = nullptr;
    int32_t end = 0;
    int32_t start = obj_text_region(data, len, obj, &buf, &end);
    if (start < 0 || end <= start) return OBJ_OTHER;
    // Only a /Page or /Pages value makes it more than OBJ_OTHER; most
    // objects lack the name altogether, which one quick search shows.
    std::string_view text(reinterpret_cast<const char *>(buf + start), static_cast<size_t>(end - start));
    if (text.find("/Page") == std::string_view::npos) return OBJ_OTHER;
    int32_t t = find_name_top(buf, end, start, end, "Type");
    while (t >= 0) {
        int32_t p = skip_ws(buf, name_end(t, "Type"), end);
        if (p + 5 <= end && buf[p] == '/' && std::memcmp(buf + p + 1, "Page", 4) == 0) {
            int32_t q = p + 5;
            if (q >= end || !is_word(buf[q])) return OBJ_PAGE;
            if (buf[q] == 's' && (q + 1 >= end || !is_word(buf[q + 1]))) return OBJ_PAGES;
            return OBJ_OTHER;
        }
        // Each new search counts its depth from its own start, on purpose:
        // it is how the reader has always classified objects.
        t = find_name_top(buf, end, t + 1, end, "Type");
    }
    return OBJ_OTHER;
}

int32_t obj_value_start(const unsigned char *data, int32_t size, int32_t hdr) {
    int32_t p = hdr;
    if (hdr < 0 || hdr >= size || parse_int_at(data, size, &p) < 0) return -1;
    p = skip_ws(data, p, size);
    if (p < size && is_digit(data[p])) parse_int_at(data, size, &p);
    p = skip_ws(data, p, size);
    if (kw_at(data, p, size, "obj")) p = skip_ws(data, kw_end(p, "obj"), size);
    return p;
}
