// Coordinates on turned and shifted pages. A page whose rotation is not 0,
// or whose box does not start at the origin, is drawn on its new upright
// page through the form matrix of page_frame.h; whatever else the input
// placed in that page's user space (annotation rectangles and points, the
// points of destinations, the orientation of appearance streams) must move
// the same way to stay over what it marks. These are pure text transforms
// over input PDF text: they read values with the reader's scanners, write
// numbers with pdfp_fmt_num, return the changed text in a string, and leave
// everything they do not understand as it stands.
//
// Results: true with the changed text in *out, false (out untouched) when
// nothing changed.
#ifndef FRAME_MAP_H
#define FRAME_MAP_H

#include <cstdint>
#include <string>

#include "page_frame.h"

// The bit of an annotation's /F that keeps it upright on a turned page.
constexpr int32_t ANNOT_NO_ROTATE = 16;

// The annotation dictionary that opens in t[0, n) with its coordinate
// entries mapped: /Rect (the box around its mapped corners; upright
// annotations keep their size with their upper-left corner mapped),
// /QuadPoints, /Vertices, /InkList, /L, /CL and /RD (turned with the
// page), and a widget's /MK /R (the turn the page no longer gives it).
// Entries that are not plain numbers where numbers belong stay as
// they are. Returns false (out untouched) when nothing changed.
bool frame_map_annot(const frame_map &m, const unsigned char *t, int32_t n, std::string *out);
// Whether the annotation dictionary in t[0, n) has the NoRotate flag.
bool annot_no_rotate(const unsigned char *t, int32_t n);

// t[0, n) with every explicit destination "[N G R /Kind ...]" whose page N
// is listed in frames mapped into that page's new frame: /XYZ left top,
// /FitH and /FitBH top, /FitV and /FitBV left (the two swap on a quarter
// turn, a horizontal edge becoming a vertical one), /FitR left bottom right
// top; null stays null. Strings and comments are passed over. Returns
// false (out untouched) when nothing changed.
bool frame_map_dests(const page_frames &frames, const unsigned char *t, int32_t n, std::string *out);

// The stream dictionary that opens in t[0, n) with its /Matrix (identity
// when absent) followed by turn quarter turns clockwise: an appearance
// drawn through it turns with its page. Returns false (out untouched) when
// turn is 0 or the /Matrix present is not six numbers.
bool frame_map_matrix(int turn, const unsigned char *t, int32_t n, std::string *out);

// The dictionary of a small form that draws the form whose stream
// dictionary opens in t[0, n) - output object inner - turned quarter turns
// clockwise: its /BBox is the inner form's box as its own /Matrix places
// it, its /Matrix the turn, its content "/Fm Do" (FRAME_WRAPPER_CONTENT).
// An appearance shared by pages of different turns then costs a few dozen
// bytes per turn, not a copy of its stream. False (out untouched) when turn
// is 0 or the /BBox or /Matrix present is not all numbers.
constexpr char FRAME_WRAPPER_CONTENT[] = "/Fm Do";
bool frame_map_wrapper(int turn, const unsigned char *t, int32_t n, int64_t inner, std::string *out);

#endif
