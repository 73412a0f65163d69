// The keys the new catalog and pages carry, and the kinds of value each
// must have to be carried.
#include "carried.h"

#include <cstring>
#include <iterator>

namespace {

// What a carried entry's value must be, else it is left out: a viewer that
// finds /Annots 5 or /AcroForm [] may stop reading the document.
enum value_kind { ANY_VALUE, ARRAY_VALUE, DICT_VALUE, NAME_VALUE };

struct carried_key {
    const char *key;
    value_kind kind;
};

// The catalog's entries, in the order the new catalog writes them. The
// optional content's groups and configurations come along, so that a layer
// that was off stays off: each group is one copy, whether the catalog, a
// page's /Properties or an annotation's /OC names it. The tagged structure
// comes along too (structure.h gives its marked content the pages' forms).
constexpr carried_key CATALOG_KEYS[] = {
    {"Outlines", DICT_VALUE},   {"Names", DICT_VALUE},      {"Dests", DICT_VALUE},
    {"PageLabels", DICT_VALUE}, {"OpenAction", ANY_VALUE},  {"PageMode", NAME_VALUE},
    {"PageLayout", NAME_VALUE}, {"ViewerPreferences", DICT_VALUE}, {"Lang", ANY_VALUE},
    {"Metadata", DICT_VALUE},   {"AcroForm", DICT_VALUE},   {"OCProperties", DICT_VALUE},
    {"StructTreeRoot", DICT_VALUE}, {"MarkInfo", DICT_VALUE}};

// A page's own entries (none of them is inherited), in the order the new
// page writes them. /Group is the page's transparency group: it changes how
// the page composites.
constexpr carried_key PAGE_KEYS[] = {{"Annots", ARRAY_VALUE}, {"Group", DICT_VALUE}, {"AA", DICT_VALUE},
                                     {"Trans", DICT_VALUE},   {"Dur", ANY_VALUE},    {"Tabs", NAME_VALUE}};

bool value_fits(const unsigned char *b, int32_t p, int32_t end, value_kind kind) {
    switch (kind) {
        case ARRAY_VALUE: return b[p] == '[';
        case DICT_VALUE: return p + 1 < end && b[p] == '<' && b[p + 1] == '<';
        case NAME_VALUE: return b[p] == '/';
        default: return true;
    }
}

// Whether the value [vs, ve) is of the kind, directly or through the
// object it names.
bool entry_fits(const pdfp_doc *doc, const unsigned char *b, int32_t vs, int32_t ve, value_kind kind) {
    if (kind == ANY_VALUE) return true;
    const unsigned char *vb = b;
    int32_t p = vs, end = ve;
    if (b[vs] >= '0' && b[vs] <= '9') {
        const pdfp_obj *o = obj_named_by(&doc->objs, b, vs, ve);
        if (!o || (p = obj_value_at(doc->data, doc->size, o, &vb, &end)) < 0) return false;
    }
    return value_fits(vb, p, end, kind);
}

}  // namespace

std::vector<carried_entry> carried_entries(const pdfp_doc *doc, const pdfp_obj *obj, carried_set set) {
    std::vector<carried_entry> out;
    const carried_key *keys = set == CARRY_CATALOG ? CATALOG_KEYS : PAGE_KEYS;
    const int n = set == CARRY_CATALOG ? int(std::size(CATALOG_KEYS)) : int(std::size(PAGE_KEYS));
    constexpr int MOST = int(std::size(CATALOG_KEYS));
    static_assert(std::size(PAGE_KEYS) <= MOST);
    const unsigned char *buf = nullptr;
    int32_t end = 0;
    const int32_t start = obj_text_region(doc->data, doc->size, obj, &buf, &end);
    if (start < 0) return out;
    // One reading of the dictionary for all the keys: a page's /Annots may
    // be long, and the walk passes over every value before the one sought.
    const char *names[MOST];
    int32_t vs[MOST], ve[MOST];
    for (int k = 0; k < n; ++k) names[k] = keys[k].key;
    dict_values(buf, start, end, names, n, vs, ve);
    for (int k = 0; k < n; ++k)
        if (vs[k] >= 0 && ve[k] > vs[k] && entry_fits(doc, buf, vs[k], ve[k], keys[k].kind))
            out.push_back({keys[k].key, buf, vs[k], ve[k]});
    return out;
}

bool is_page_annots(carried_set set, const carried_entry &e) {
    return set == CARRY_PAGE && std::strcmp(e.key, "Annots") == 0;
}

const pdfp_obj *input_catalog(const pdfp_doc *doc) {
    const pdfp_obj *c = doc->catalog > 0 ? pdfp_obj_find(&doc->objs, doc->catalog) : nullptr;
    // A catalog that is itself the page tree has nothing of its own to carry.
    return c && obj_type(doc->data, doc->size, c) == OBJ_OTHER ? c : nullptr;
}

const pdfp_obj *input_info(const pdfp_doc *doc) {
    const pdfp_obj *info = doc->info > 0 ? pdfp_obj_find(&doc->objs, doc->info) : nullptr;
    const unsigned char *b;
    int32_t end;
    int32_t p = info && !pdfp_obj_has_stream(info) ? obj_value_at(doc->data, doc->size, info, &b, &end) : -1;
    return p >= 0 && value_fits(b, p, end, DICT_VALUE) ? info : nullptr;
}
