// label_plan: labels, font and extras of one numbering, decided up front.
#include "label_plan.h"

#include <cmath>

#include "number_format.h"
#include "page_labels.h"

namespace {

bool fail(const std::string &message) {
    set_error("%s", message.c_str());
    return false;
}

}  // namespace

bool label_options_check(const label_options *o) {
    number_format f;
    std::string error;
    if (!number_format_parse(o->format, &f, &error)) return fail(error);
    if (o->has_margin && !(o->margin_x >= 0 && o->margin_y >= 0 && std::isfinite(o->margin_x) && std::isfinite(o->margin_y))) {
        set_error(MSG_BAD_MARGIN, pdfp_fmt_num(o->margin_x).c_str(), pdfp_fmt_num(o->margin_y).c_str());
        return false;
    }
    if (o->has_opacity && !(o->opacity >= 0 && o->opacity <= 1)) {
        set_error(MSG_BAD_OPACITY, std::isnan(o->opacity) ? "NaN" : pdfp_fmt_num(o->opacity).c_str());
        return false;
    }
    return true;
}

bool label_plan_make(const pdfp_doc *doc, const label_options *o, const page_selection *sel, label_plan *plan) {
    number_format f;
    std::string error;
    if (!number_format_parse(o->format, &f, &error)) return fail(error);
    int32_t first = std::max(sel->first_index, 0), last = std::min(sel->last_index, doc->pages.count - 1);
    int64_t total = sel->total < 0 ? doc->pages.count : sel->total;
    std::vector<std::string> labels;
    for (int32_t i = first; i <= last; ++i)
        labels.push_back(number_format_expand(f, static_cast<int64_t>(sel->first_number) + (i - first), total));
    if (!label_font_open(o->font, o->font_index, labels, &plan->font, &error)) return fail(error);
    plan->operands.resize(labels.size());
    plan->widths.resize(labels.size());
    for (size_t k = 0; k < labels.size(); ++k)
        if (!label_font_show(&plan->font, labels[k], &plan->operands[k], &plan->widths[k], &error)) return fail(error);
    plan->margin = o->has_margin;
    plan->margin_x = o->margin_x;
    plan->margin_y = o->margin_y;
    plan->opacity = o->has_opacity;
    plan->alpha = o->opacity;
    plan->backing = o->backing;
    if (o->page_labels) {
        page_selection clipped = *sel;
        clipped.first_index = first;
        clipped.last_index = last;
        plan->page_labels = page_labels_value(doc, &clipped, f, labels);
    }
    return true;
}
