// Coordinates on turned and shifted pages: the page's form matrix applied
// to what the input placed in the page's user space. Every transform reads
// the input text with the reader's scanners and rewrites only the values
// it maps; all other bytes pass through unchanged.
#include "frame_map.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>


namespace {

// One replaced range of a text.
struct edit {
    int32_t start;
    int32_t end;
    std::string text;
};

// t[0, n) with the edits (sorted by start, not overlapping) applied.
std::string apply_edits(const unsigned char *t, int32_t n, std::vector<edit> &edits) {
    std::sort(edits.begin(), edits.end(), [](const edit &x, const edit &y) { return x.start < y.start; });
    std::string s;
    s.reserve(static_cast<size_t>(n) + 64);
    int32_t at = 0;
    for (const edit &e : edits) {
        s.append(reinterpret_cast<const char *>(t) + at, static_cast<size_t>(e.start - at));
        s += e.text;
        at = e.end;
    }
    s.append(reinterpret_cast<const char *>(t) + at, static_cast<size_t>(n - at));
    return s;
}

// The PDF number in the token [p, e): an optional sign, digits with at
// most one point, at least one digit. Exponents and other forms are not
// PDF numbers; they leave the value unread.
bool number_at(const unsigned char *t, int32_t p, int32_t e, double *v) {
    if (p < e && t[p] == '+') ++p;
    if (p >= e) return false;
    int32_t digits = 0, points = 0;
    for (int32_t k = p; k < e; ++k) {
        if (is_digit(t[k]))
            ++digits;
        else if (t[k] == '.')
            ++points;
        else if (!(k == p && t[k] == '-'))
            return false;
    }
    if (digits == 0 || points > 1) return false;
    const char *s = reinterpret_cast<const char *>(t);
    // from_chars never looks at the locale; a value past the double range fails.
    auto r = std::from_chars(s + p, s + e, *v, std::chars_format::fixed);
    return r.ec == std::errc() && r.ptr == s + e;
}

bool is_null_at(const unsigned char *t, int32_t p, int32_t e) {
    return e - p == 4 && std::memcmp(t + p, "null", 4) == 0;
}

// The elements of the array at [vs, ve) when each is a number (or, with
// nulls, null: NaN then stands for it); false for any other value.
bool read_numbers(const unsigned char *t, int32_t vs, int32_t ve, bool nulls, std::vector<double> *out) {
    out->clear();
    if (vs >= ve || t[vs] != '[') return false;
    for (int32_t p = vs + 1;;) {
        p = skip_ws_comments(t, p, ve);
        if (p >= ve) return false;
        if (t[p] == ']') return true;
        int32_t e = value_end(t, p, ve);
        if (e <= p) return false;
        double v;
        if (number_at(t, p, e, &v))
            out->push_back(v);
        else if (nulls && is_null_at(t, p, e))
            out->push_back(std::numeric_limits<double>::quiet_NaN());
        else
            return false;
        p = e;
    }
}

std::string array_text(const std::vector<double> &v) {
    std::string s = "[";
    for (size_t k = 0; k < v.size(); ++k) {
        if (k) s += ' ';
        s += std::isnan(v[k]) ? std::string("null") : pdfp_fmt_num(v[k]);
    }
    return s + "]";
}

// Maps x and y, either of which may be NaN (unset). A quarter turn sends
// each coordinate onto one axis, so an unset one stays unset wherever it lands.
void map_point(const frame_map &m, double x, double y, double *ox, double *oy) {
    if (m.turn % 2 == 0) {
        *ox = m.a * x + m.e;
        *oy = m.d * y + m.f;
    } else {
        *ox = m.c * y + m.e;
        *oy = m.b * x + m.f;
    }
}

// Every pair of v mapped; false when v has an odd count.
bool map_pairs(const frame_map &m, std::vector<double> *v) {
    if (v->size() % 2) return false;
    for (size_t k = 0; k + 1 < v->size(); k += 2) map_point(m, (*v)[k], (*v)[k + 1], &(*v)[k], &(*v)[k + 1]);
    return true;
}

// The rectangle [x1 y1 x2 y2] mapped: the box around its mapped corners.
void map_rect(const frame_map &m, std::vector<double> *r) {
    double x1, y1, x2, y2;
    map_point(m, (*r)[0], (*r)[1], &x1, &y1);
    map_point(m, (*r)[2], (*r)[3], &x2, &y2);
    *r = {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

// The rectangle of an upright (NoRotate) annotation: it keeps its size,
// and its upper-left corner, where a viewer pins it, is mapped.
void map_upright_rect(const frame_map &m, std::vector<double> *r) {
    double left = std::min((*r)[0], (*r)[2]), top = std::max((*r)[1], (*r)[3]);
    double w = std::abs((*r)[2] - (*r)[0]), h = std::abs((*r)[3] - (*r)[1]);
    double x, y;
    map_point(m, left, top, &x, &y);
    *r = {x, y - h, x + w, y};
}

// /RD [left top right bottom]: each clockwise quarter turn moves the
// bottom inset to the left, the left to the top, the top to the right.
void turn_insets(int turn, std::vector<double> *d) {
    for (int k = 0; k < turn; ++k) *d = {(*d)[3], (*d)[0], (*d)[1], (*d)[2]};
}

// A widget's /MK /R, the degrees it is turned counterclockwise against its
// page: the page no longer turns (clockwise) on the new page, so the widget
// takes that turn itself, and a viewer that draws the field afresh draws it
// as the input showed it. Only an /MK written in place is changed.
void turn_widget(int turn, const unsigned char *t, int32_t n, std::vector<edit> *edits) {
    int32_t ms, me, rs, re;
    if (!dict_value(t, 0, n, "MK", &ms, &me) || me - ms < 2 || t[ms] != '<' || t[ms + 1] != '<') return;
    int32_t r = 0;
    bool present = dict_value(t, ms, me, "R", &rs, &re);
    if (present) {
        int32_t q = rs;
        r = parse_int_at(t, re, &q);
        if (q != re || r % 90 != 0) return;  // not a whole quarter turn: left alone
    }
    int32_t turned = ((r - 90 * turn) % 360 + 360) % 360;
    if (present)
        edits->push_back({rs, re, std::to_string(turned)});
    else
        edits->push_back({ms + 2, ms + 2, " /R " + std::to_string(turned)});
}

}  // namespace

bool annot_no_rotate(const unsigned char *t, int32_t n) {
    int32_t vs, ve;
    if (!dict_value(t, 0, n, "F", &vs, &ve)) return false;
    int32_t p = vs;
    int32_t flags = parse_int_at(t, ve, &p);
    return p == ve && flags > 0 && (flags & ANNOT_NO_ROTATE) != 0;
}

bool frame_map_annot(const frame_map &m, const unsigned char *t, int32_t n, std::string *out) {
    if (frame_map_is_identity(m)) return false;
    bool upright = annot_no_rotate(t, n);
    std::vector<edit> edits;
    std::vector<double> v;
    // The dictionary is read once for all the keys that hold coordinates.
    enum { RECT, QUAD_POINTS, VERTICES, LINE, CALLOUT, INSETS, INK, KEYS };
    static const char *const keys[KEYS] = {"Rect", "QuadPoints", "Vertices", "L", "CL", "RD", "InkList"};
    int32_t at[KEYS], to[KEYS];
    dict_values(t, 0, n, keys, KEYS, at, to);
    int32_t vs, ve;
    auto numbers = [&](int key, bool nulls) {
        vs = at[key];
        ve = to[key];
        return vs >= 0 && read_numbers(t, vs, ve, nulls, &v);
    };
    if (numbers(RECT, false) && v.size() == 4) {
        upright ? map_upright_rect(m, &v) : map_rect(m, &v);
        edits.push_back({vs, ve, array_text(v)});
    }
    for (int key : {QUAD_POINTS, VERTICES, LINE, CALLOUT})
        if (numbers(key, false) && map_pairs(m, &v)) edits.push_back({vs, ve, array_text(v)});
    if (!upright && numbers(INSETS, false) && v.size() == 4) {
        turn_insets(m.turn, &v);
        edits.push_back({vs, ve, array_text(v)});
    }
    if ((vs = at[INK]) >= 0 && t[vs] == '[') {
        ve = to[INK];
        // An array of paths, each an array of pairs: rebuilt whole or left alone.
        std::string s = "[";
        bool ok = true;
        int32_t p = vs + 1;
        for (bool first = true;; first = false) {
            p = skip_ws_comments(t, p, ve);
            if (p >= ve) { ok = false; break; }
            if (t[p] == ']') break;
            int32_t e = value_end(t, p, ve);
            if (e <= p || !read_numbers(t, p, e, false, &v) || !map_pairs(m, &v)) { ok = false; break; }
            if (!first) s += ' ';
            s += array_text(v);
            p = e;
        }
        if (ok) edits.push_back({vs, ve, s + "]"});
    }
    if (!upright && m.turn != 0) turn_widget(m.turn, t, n, &edits);
    if (edits.empty()) return false;
    *out = apply_edits(t, n, edits);
    return true;
}

namespace {

// How many coordinates each kind of destination takes after its name.
int dest_arity(const unsigned char *t, int32_t p, int32_t e) {
    static const struct { const char *name; int count; } kinds[] = {
        {"XYZ", 3}, {"FitH", 1}, {"FitBH", 1}, {"FitV", 1}, {"FitBV", 1}, {"FitR", 4}};
    for (const auto &k : kinds)
        if (name_is(t, p, e, k.name)) return k.count;
    return 0;  // /Fit, /FitB and unknown kinds name no point
}

// The destination whose kind name is [kp, ke) with its coordinates v
// mapped: the text that replaces the kind and coordinates.
std::string mapped_dest(const frame_map &m, const unsigned char *t, int32_t kp, int32_t ke, std::vector<double> v) {
    const double unset = std::numeric_limits<double>::quiet_NaN();
    std::string kind(reinterpret_cast<const char *>(t) + kp, static_cast<size_t>(ke - kp));
    bool odd = m.turn % 2 == 1;
    if (name_is(t, kp, ke, "XYZ")) {
        map_point(m, v[0], v[1], &v[0], &v[1]);
    } else if (name_is(t, kp, ke, "FitR")) {
        map_rect(m, &v);
    } else {
        bool horizontal = name_is(t, kp, ke, "FitH") || name_is(t, kp, ke, "FitBH");
        bool boxed = name_is(t, kp, ke, "FitBH") || name_is(t, kp, ke, "FitBV");
        double x, y;
        map_point(m, horizontal ? unset : v[0], horizontal ? v[0] : unset, &x, &y);
        // A quarter turn makes the named edge vertical (or horizontal): the
        // kind follows it so that the same spot of the page is named.
        bool now_horizontal = horizontal != odd;
        v[0] = now_horizontal ? y : x;
        kind = std::string(now_horizontal ? (boxed ? "/FitBH" : "/FitH") : (boxed ? "/FitBV" : "/FitV"));
    }
    std::string s = kind;
    for (double x : v) {
        s += ' ';
        s += std::isnan(x) ? std::string("null") : pdfp_fmt_num(x);
    }
    return s;
}

// The arity coordinates after the kind name that ends at ke, each a number
// or null (NaN), into v: the offset after the last, or -1 when fewer
// follow or anything else stands among them (the destination then stays
// as it is).
int32_t dest_coordinates(const unsigned char *t, int32_t ke, int32_t n, int arity, std::vector<double> *v) {
    v->clear();
    int32_t e = ke;
    for (int k = 0; k < arity; ++k) {
        int32_t cp = skip_ws_comments(t, e, n);
        int32_t ce = cp < n ? value_end(t, cp, n) : -1;
        double x;
        if (ce <= cp) return -1;
        if (number_at(t, cp, ce, &x))
            v->push_back(x);
        else if (is_null_at(t, cp, ce))
            v->push_back(std::numeric_limits<double>::quiet_NaN());
        else
            return -1;
        e = ce;
    }
    return e;
}

}  // namespace

bool frame_map_dests(const page_frames &frames, const unsigned char *t, int32_t n, std::string *out) {
    if (frames.maps.empty()) return false;
    std::vector<edit> edits;
    std::vector<double> v;
    for (int32_t p = 0; p < n;) {
        unsigned char ch = t[p];
        if (ch == '(') {
            int32_t e = skip_literal(t, p, n);
            p = e < 0 ? n : e;
            continue;
        }
        if (ch == '<') {
            // "<<" opens a dictionary; a single "<" a hexadecimal string.
            int32_t e = p + 1 < n && t[p + 1] == '<' ? p + 2 : skip_hex_string(t, p, n);
            p = e < 0 ? n : e;
            continue;
        }
        if (ch == '%') {
            p = skip_ws_comments(t, p, n);
            continue;
        }
        ++p;
        if (ch != '[') continue;
        // "[N G R /Kind c1 c2 ...]": the page, then the kind.
        int32_t rp = skip_ws_comments(t, p, n);
        if (rp >= n || !is_digit(t[rp])) continue;
        int32_t re = value_end(t, rp, n);
        if (re <= rp || t[re - 1] != 'R') continue;
        int32_t q = rp;
        const frame_map *m = page_frames_find(frames, parse_int_at(t, re, &q));
        if (!m) continue;
        int32_t kp = skip_ws_comments(t, re, n);
        if (kp >= n || t[kp] != '/') continue;
        int32_t ke = value_end(t, kp, n);
        int arity = ke > kp ? dest_arity(t, kp, ke) : 0;
        if (arity == 0) continue;
        int32_t e = dest_coordinates(t, ke, n, arity, &v);
        if (e < 0) continue;
        // /FitR names two corners: both must be given to be mapped.
        if (arity == 4 && std::any_of(v.begin(), v.end(), [](double x) { return std::isnan(x); })) continue;
        edits.push_back({kp, e, mapped_dest(*m, t, kp, ke, v)});
        p = e;
    }
    if (edits.empty()) return false;
    *out = apply_edits(t, n, edits);
    return true;
}

namespace {

// The linear part of the page's quarter turns (its shift does not matter:
// an appearance is fitted into its annotation's rectangle).
const double QUARTER_TURNS[4][4] = {{1, 0, 0, 1}, {0, -1, 1, 0}, {-1, 0, 0, -1}, {0, 1, -1, 0}};

}  // namespace

bool frame_map_wrapper(int turn, const unsigned char *t, int32_t n, int64_t inner, std::string *out) {
    turn = ((turn % 4) + 4) % 4;
    if (turn == 0) return false;
    std::vector<double> box, m = {1, 0, 0, 1, 0, 0};
    int32_t vs, ve;
    if (!dict_value(t, 0, n, "BBox", &vs, &ve) || !read_numbers(t, vs, ve, false, &box) || box.size() != 4)
        return false;
    if (dict_value(t, 0, n, "Matrix", &vs, &ve) && (!read_numbers(t, vs, ve, false, &m) || m.size() != 6))
        return false;
    double lo_x = 0, lo_y = 0, hi_x = 0, hi_y = 0;
    for (int c = 0; c < 4; ++c) {
        double x = box[c % 2 ? 2 : 0], y = box[c < 2 ? 1 : 3];
        double px = m[0] * x + m[2] * y + m[4], py = m[1] * x + m[3] * y + m[5];
        lo_x = c ? std::min(lo_x, px) : px;
        hi_x = c ? std::max(hi_x, px) : px;
        lo_y = c ? std::min(lo_y, py) : py;
        hi_y = c ? std::max(hi_y, py) : py;
    }
    const double *r = QUARTER_TURNS[turn];
    *out = "<< /Subtype /Form /BBox " + array_text({lo_x, lo_y, hi_x, hi_y}) + " /Matrix " +
           array_text({r[0], r[1], r[2], r[3], 0, 0}) + " /Resources << /XObject << /Fm " + std::to_string(inner) +
           " 0 R >> >> /Length " + std::to_string(sizeof FRAME_WRAPPER_CONTENT - 1) + " >>\n";
    return true;
}

bool frame_map_matrix(int turn, const unsigned char *t, int32_t n, std::string *out) {
    turn = ((turn % 4) + 4) % 4;
    if (turn == 0) return false;
    const double *r = QUARTER_TURNS[turn];
    std::vector<double> v = {1, 0, 0, 1, 0, 0};
    int32_t vs, ve;
    bool present = dict_value(t, 0, n, "Matrix", &vs, &ve);
    if (present && (!read_numbers(t, vs, ve, false, &v) || v.size() != 6)) return false;
    // The form's own matrix first, then the turn.
    std::vector<double> w = {v[0] * r[0] + v[1] * r[2], v[0] * r[1] + v[1] * r[3],
                             v[2] * r[0] + v[3] * r[2], v[2] * r[1] + v[3] * r[3],
                             v[4] * r[0] + v[5] * r[2], v[4] * r[1] + v[5] * r[3]};
    std::vector<edit> edits;
    if (present) {
        edits.push_back({vs, ve, array_text(w)});
    } else {
        int32_t open = skip_ws_comments(t, 0, n);
        if (open + 1 >= n || t[open] != '<' || t[open + 1] != '<') return false;
        edits.push_back({open + 2, open + 2, " /Matrix " + array_text(w)});
    }
    *out = apply_edits(t, n, edits);
    return true;
}
