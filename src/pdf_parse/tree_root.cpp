// Finding the catalog and the root of the page tree: through the
// trailer's /Root, else a searched catalog, else the page tree found
// directly.
#include <vector>

#include "load_steps.h"

namespace {

// The first object that mentions /Catalog, else 1.
int32_t searched_catalog(const pdfp_doc *doc) {
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj &o = doc->objs.items[i];
        if (o.in_objstm) {
            if (o.text_len > 7 && find_name(o.text, o.text_len, 0, o.text_len, "Catalog") >= 0) return o.num;
        } else if (o.dict_pos >= 0) {
            int32_t end = o.endobj_pos > 0 ? o.endobj_pos : doc->size;
            if (find_name(doc->data, doc->size, o.dict_pos, end, "Catalog") >= 0) return o.num;
        }
    }
    return 1;
}

// The page-tree root that the catalog names, or -1 when it names none that
// is a page or a Pages node.
int32_t find_tree_root(const pdfp_doc *doc, int32_t catalog) {
    const pdfp_obj *c = pdfp_obj_find(&doc->objs, catalog);
    if (!c) return -1;
    int t = obj_type(doc->data, doc->size, c);
    if (t == OBJ_PAGE || t == OBJ_PAGES) return catalog;  // the catalog is itself the tree
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(doc->data, doc->size, c, &buf, &end);
    if (start < 0) return -1;
    int32_t root = int_after_key(buf, start, end, end, "Pages", [](int32_t v) { return v > 0; });
    const pdfp_obj *r = root > 0 ? pdfp_obj_find(&doc->objs, root) : nullptr;
    if (!r || tree_node_kind(doc->data, doc->size, r, false) == OBJ_OTHER) return -1;
    return root;
}

// The /Count of a Pages node, or -1.
int32_t pages_count(const pdfp_doc *doc, const pdfp_obj &o) {
    const unsigned char *buf;
    int32_t end;
    int32_t start = obj_text_region(doc->data, doc->size, &o, &buf, &end);
    int32_t k = start < 0 ? -1 : find_name_top(buf, end, start, end, "Count");
    if (k < 0) return -1;
    int32_t p = skip_ws(buf, name_end(k, "Count"), end);
    return parse_int_at(buf, end, &p);
}

// The root of the page tree found without a catalog: a /Type /Pages node
// that no /Kids array lists. Where several are (a subtree cut off by an
// update), the one whose /Count says the most pages, the first of equals.
// Objects without "endobj" of their own overlap, so the bytes read are
// bounded as the object scan's are; past that bound none is found.
int32_t unlisted_pages_node(const pdfp_doc *doc) {
    std::vector<char> listed(static_cast<size_t>(doc->max_num) + 1, 0);
    std::vector<const pdfp_obj *> nodes;
    int64_t budget = dict_walk_budget(doc->size);
    for (int32_t i = 0; i < doc->objs.count; ++i) {
        const pdfp_obj *o = &doc->objs.items[i];
        const unsigned char *buf;
        int32_t end;
        int32_t start = obj_text_region(doc->data, doc->size, o, &buf, &end);
        if (start < 0) continue;
        // Each region is read about three times here.
        if ((budget -= 3 * static_cast<int64_t>(end - start)) < 0) return -1;
        if (obj_type(doc->data, doc->size, o) == OBJ_PAGES) nodes.push_back(o);
        std::vector<int32_t> kids;
        node_kids(doc->data, doc->size, o, &kids);
        for (int32_t v : kids)
            if (v <= doc->max_num) listed[static_cast<size_t>(v)] = 1;
    }
    int32_t best = -1, best_count = -2;
    for (const pdfp_obj *o : nodes) {
        if (listed[static_cast<size_t>(o->num)]) continue;
        int32_t count = pages_count(doc, *o);
        if (count > best_count) {
            best = o->num;
            best_count = count;
        }
    }
    return best;
}

}  // namespace

// The root of the page tree, or -1: through the trailer's /Root when that
// leads to one, else through the first object that mentions /Catalog (or
// object 1), else the tree found directly. A damaged or missing catalog
// should not lose a document whose pages are all there.
int32_t locate_tree_root(pdfp_doc *doc) {
    if (doc->root >= 0 && pdfp_obj_find(&doc->objs, doc->root)) {
        doc->catalog = doc->root;
        int32_t r = find_tree_root(doc, doc->catalog);
        if (r > 0) return r;
    }
    doc->catalog = searched_catalog(doc);
    int32_t r = find_tree_root(doc, doc->catalog);
    return r > 0 ? r : unlisted_pages_node(doc);
}
