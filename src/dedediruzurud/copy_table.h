// The copy table: the input objects that the output copies, each under its
// output number, and what the references to every other input object
// become. This unit builds it (copy_table.cpp): the seeds, the closure over
// the references inside the listed objects, and the extra copies of the
// appearances that turn with a turned page. Writing the copies and every
// text rewritten through the table is copy_write.cpp's job; what it reads
// of the table besides the table itself is declared here too.
//
// Results: lookups return null (or a copy_source with n < 0) when there is
// nothing; bool for yes/no.
#ifndef COPY_TABLE_H
#define COPY_TABLE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "page_frame.h"
#include "pdf_parse.h"
#include "structure.h"

struct res_memo_deleter {
    void operator()(pdfp_res_memo *m) const { pdfp_res_memo_free(m); }
};

// What the table keeps for pages whose frame moves (turned or shifted
// pages); all empty when no page does.
struct frame_copies {
    page_frames frames;
    // Annotation object number -> the map of the first page whose /Annots
    // lists it (pointers into frames.maps).
    std::unordered_map<int32_t, const frame_map *> annots;
    // Appearance objects copied for a turn: turned_key(number, turn) ->
    // output number, and the table entry of each such copy -> its turn.
    std::unordered_map<int64_t, int32_t> turned_out;
    std::unordered_map<size_t, int> turn_of_entry;
};

// The key of an appearance object's copy for a turn (1..3).
inline int64_t turned_key(int32_t num, int turn) { return static_cast<int64_t>(num) * 4 + turn; }

struct copy_table {
    std::vector<int32_t> nums;  // input numbers; nums[k] becomes first_out + k
    // By input number, the map of pdfp_remap_res_text: the output number of
    // a copy, of a page's new page object or of the catalog;
    // PDFP_REF_TO_NULL for an object that is not copied (a page-tree node, a
    // page the tree does not list), 0 for a number that no listed text names.
    std::vector<int32_t> new_by_old;
    int32_t first_out = 0;
    // The copy of the document information, 0 when there is none.
    int32_t info_out = 0;
    // What the pages' ancestors hand down, shared by every page's lookup.
    std::unique_ptr<pdfp_res_memo, res_memo_deleter> resources;
    // Turned and shifted pages: their annotations and turned appearances.
    frame_copies framed;
    // The tagged structure's elements and references, with their pages.
    structure_marks structure;
    // By page index, the output form that draws the page.
    std::vector<int64_t> form_of;
};

// Lists every object the pages' resources and the document's structure
// need, directly or through other copies, numbered from first_out.
void copy_table_build(const pdfp_doc *doc, int32_t first_out, copy_table *table);

// ---------------------------------------------------------------------------
// What the writing of the copies reads
// ---------------------------------------------------------------------------

// The bytes of an object that are copied with their references rewritten:
// an object-stream object's text, a stream's dictionary (never its data),
// a plain object's body. n < 0 when the object has nothing usable.
struct copy_source {
    const unsigned char *p = nullptr;
    int64_t n = -1;
};
copy_source copy_source_of(const pdfp_doc *doc, const pdfp_obj *obj);
// The page's resources dictionary text, or null.
pdfp_owned<char> page_resources_text(const pdfp_doc *doc, const pdfp_obj *page, pdfp_res_memo *memo);
// Whether an entry copies a form (a stream in the file), not a dictionary.
bool copies_stream(const pdfp_obj *obj);

// The turn entry k of the table was copied for, or 0 for a plain copy.
int copy_turn_of(const copy_table *t, size_t k);
// The map entry k is written with when it is an annotation of a moved page, else null.
const frame_map *copy_annot_map(const copy_table *t, size_t k);
// Where an annotation's appearances (/AP) stand in its text [p, p + n):
// false when they do not turn (no /AP, an unturned page, NoRotate).
bool annot_turned_appearances(const frame_map *m, const unsigned char *p, int64_t n, int32_t *as, int32_t *ae);
// The inline annotation dictionaries of an /Annots array [vs, ve) of b:
// their ranges, in order.
std::vector<std::pair<int32_t, int32_t>> inline_annots(const unsigned char *b, int32_t vs, int32_t ve);

#endif
