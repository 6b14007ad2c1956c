// Plain one-line explanations of why a structure that was read cannot be
// compared: which file is at fault and what it lacks. A run that stops on a
// length or contact check prints the check's own message and then one of
// these lines.
#pragma once

#include <string>

#include "structure/structure.h"

namespace tarvix {

inline constexpr int kMinLength = 6;    // residues a structure needs
inline constexpr int kMinContacts = 5;  // contacts its first chain needs

// Said of a file in which a carriage return inside a line is followed by a
// record name.
inline constexpr const char* kCrOnlyCause =
    "its lines end with a carriage return alone, so it reads as one line";

// What the coordinate file yielded: "no CA atom in X.pdb: the file is empty",
// "X.pdb has 4 residues (CA atoms)".
std::string describe_residues(const Structure& s);

// Why s has fewer than kMinLength residues.
std::string why_too_short(const Structure& s);

// Why the first chain of s has only `total` (< kMinContacts) contacts.
std::string why_few_contacts(const Structure& s, int total);

// The line for a run over two structures: the explanation of each structure
// that fails the check, joined by "; " (once when both say the same).
std::string why_too_short(const Structure& s1, const Structure& s2);
std::string why_few_contacts(const Structure& s1, int total1, const Structure& s2, int total2);

}  // namespace tarvix
