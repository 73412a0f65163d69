// The output's object numbers: 1 the catalog, 2 the page tree, three per
// input page i (its page object, the form that wraps its drawing, its
// content stream), then the copies of input objects, then the font. Every
// unit of the writer names output objects through these.
#ifndef OBJECT_NUMBERS_H
#define OBJECT_NUMBERS_H

#include <cstdint>

constexpr int64_t CATALOG_OBJ = 1;
constexpr int64_t PAGE_TREE_OBJ = 2;
inline int64_t page_obj(int64_t i) { return 3 + 3 * i; }
inline int64_t form_obj(int64_t i) { return 4 + 3 * i; }
inline int64_t content_obj(int64_t i) { return 5 + 3 * i; }
inline int64_t first_copy_obj(int64_t page_count) { return page_obj(page_count); }
inline int64_t font_obj(int64_t page_count, int64_t copies) { return first_copy_obj(page_count) + copies; }

#endif
