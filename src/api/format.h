// Fixed-width fields of the report, written the way Fortran edit descriptors
// write them (Iw, Fw.d, Ew.dEe, Aw, nX and list-directed lines), plus the small
// text helpers the report needs (base names, three-letter residue codes).
//
// Every number field is right-justified in its width and becomes w asterisks
// when the number does not fit. All functions are pure.
#pragma once

#include <string>

namespace tarvix::fmt {

// Iw: integer right-justified in w columns.
std::string I(long long v, int w);

// Fw.d: fixed point with d decimals right-justified in w columns. The 0 before
// the decimal point is written only when there is room for it (F8.5 of 0.5 is
// " 0.50000", F6.5 of 0.5 is ".50000"). A negative value keeps its minus sign
// even when it rounds to zero (F6.3 of -0.0001 is "-0.000"), and so does -0.0.
// Infinities and NaN print as "Infinity"/"Inf"/"NaN" when they fit.
std::string F(double v, int w, int d);

// Ew.dEe: 0.ddd…d, "E", exponent sign, e exponent digits, right-justified in w
// columns (E12.4E3 of 0.00123 is " 0.1230E-002"). The leading 0 is dropped
// when it alone does not fit; an exponent that needs more than e digits, or
// d < 1, gives asterisks.
std::string E(double v, int w = 12, int d = 4, int e = 3);

// Aw: text in w columns, blank-padded on the left when shorter, cut to its
// first w characters when longer.
std::string A(const std::string& s, int w);

// nX: n blanks.
std::string X(int n);

// A list-directed line: one blank followed by the text.
std::string list_line(const std::string& text);

// Nearest integer, halves away from zero.
long long nint(double v);

// Blank-padded on the right to w characters, or cut to the first w.
std::string pad_right(const std::string& s, int w);

// The part of a path after its last "/", up to its last character that is
// neither "/" nor blank. A path ending in "/" gives an empty name.
std::string getbasename(const std::string& path);

// Three-letter residue code of a one-letter code; "UNK" for anything outside
// the table (including "X").
std::string aa1toaa3(char aa);

}  // namespace tarvix::fmt
