// Tarvix as a library: read an interface once, compare two of them, get the
// result as a value. The command line, the search and the Python module all
// go through this header. Nothing here prints: failures are tarvix::Error
// exceptions carrying the whole message (file, line, problem), warnings are
// kept with the values they concern.
//
//   tarvix::Interface a = tarvix::Interface::read("1A2K_AB.pdb", "1A2K_AB.contacts");
//   tarvix::Interface b = tarvix::Interface::read_ca("1AZS_AB.pdb");  // contacts from CA atoms
//   tarvix::Result r = tarvix::compare(a, b, tarvix::Options{});
//   std::cout << r.score << ' ' << r.pvalue.value_or(-1) << '\n' << tarvix::report(r);
//
// Interfaces are immutable and may be shared by any number of threads; each
// call of compare() owns all of its working storage.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "structure/error.h"

namespace tarvix {

struct Structure;
struct Settings;

// ---- interfaces -------------------------------------------------------------

// One residue of an interface, as its PDB file names it.
struct Residue {
  char chain = ' ';        // chain identifier ("_" when blank in the file)
  std::string number;      // residue number with insertion code, columns 23-27 as read
  std::string name;        // three-letter name, columns 18-20
  char code = 'X';         // one-letter code ("X" outside the standard twenty)
  int side = 0;            // 1 first chain, 2 second
};

class Interface {
 public:
  // A PDB file of the interface residues (chains ended by "TER") and its
  // contact file.
  static Interface read(const std::string& pdbfile, const std::string& contactfile);
  // A PDB file alone; secondary structure and contacts come from the CA
  // coordinates (the classic "-ca").
  static Interface read_ca(const std::string& pdbfile);
  // Takes over a structure filled by the readers (as read: sides not marked).
  // `name` is the path the report shows the base name of.
  static Interface from_structure(const Structure& s, std::string name,
                                  std::vector<std::string> warnings = {});
  // The same, keeping the structure's own records rather than a copy sized
  // for its residues: for a program that compares it once and exits (a
  // record sized for the largest structure costs memory only for the
  // residues in use).
  static Interface from_structure(Structure&& s, std::string name,
                                  std::vector<std::string> warnings = {});

  const std::string& name() const;  // the PDB path as given
  int length() const;               // residues
  int chains() const;               // "TER" records read
  int contacts() const;             // contacts of the first chain (the report's count)
  Residue residue(int i) const;     // i = 1..length()
  std::array<double, 3> ca(int i) const;
  // Partners of residue i (1-based residue indices).
  std::vector<int> partners(int i) const;
  // What the readers warned about, as the classic program prints it.
  const std::vector<std::string>& warnings() const;

  // The record the engine works on (sides marked).
  const Structure& structure() const;

 private:
  Interface() = default;
  struct Data;
  std::shared_ptr<const Data> d_;
};

// ---- options ----------------------------------------------------------------

enum class ScoreType { TX, TM };
enum class SpeedMode { Accepted = 0, Regular = 1, Fast = 2 };  // "-q 0", "-q 1", "-q 2"
enum class Normalization { Structure2, Average, Minimum, Maximum };
enum class Detail { None = 0, Concise = 1, Detailed = 2 };  // the report's alignment ("-v")

// Every setting of one comparison; the defaults are the classic program's.
struct Options {
  ScoreType score = ScoreType::TX;           // "-t": TM
  bool sequential = true;                    // "-s": false
  SpeedMode speed = SpeedMode::Regular;      // "-q"
  Normalization normalization = Normalization::Structure2;  // "-a", "-b", "-c"
  std::optional<int> length;                 // "-L": fixed normalisation length (>= 1)
  std::optional<double> d0;                  // "-d0" (> 0)
  std::optional<double> dmin;                // "-dmin" (> 0)
  bool seqd0 = false;                        // "-seqd0"
  Detail detail = Detail::Concise;           // non-sequential runs show Detailed for Concise
  // False skips the P-value even where the options above allow it (the
  // command line does so once "-a" was given, whatever normalisation follows).
  bool pvalue_allowed = true;

  // Throws Error naming the option when a value is out of range.
  void validate() const;
  // Whether the P-value is computed (not with -L, -dmin, -a, nor non-sequential TM).
  bool pvalue() const;
};

// ---- results ----------------------------------------------------------------

struct AlignedPair {
  int index1 = 0, index2 = 0;  // residue positions in the interfaces as read (1-based)
  Residue residue1, residue2;
  double distance = 0.0;       // CA-CA distance after the superposition, in Angstrom
};

struct Result {
  std::string name1, name2;   // the interfaces' names
  int length1 = 0, length2 = 0;
  int contacts1 = 0, contacts2 = 0;
  std::array<char, 2> chains1{}, chains2{};  // chain identifiers as read

  bool significant = false;   // at least three aligned pairs; otherwise nothing below is set
  double score = 0.0;         // TX- or TM-score, normalised by `normlen`
  std::optional<double> pvalue, zscore;
  int aligned = 0;            // aligned residues
  int aligned_contacts = 0;   // conserved contacts
  double rmsd = 0.0;
  double identity = 0.0;      // sequence identity of the aligned pairs
  double rotation[3][3] = {}; // x2 = rotation * x1 + translation
  double translation[3] = {};
  int round = 0;              // chain order of the best alignment (1..4)
  int initial = 0;            // its start code
  double normlen = 0.0;       // normalisation length
  double d0 = 0.0;            // d0 of the reported score
  std::vector<AlignedPair> pairs;
  std::vector<std::string> warnings;  // what the comparison warned about (before the report)

  // The pieces of the classic report that depend on the options.
  struct Report {
    std::string scorecode;      // "TX" or "TM"
    bool pvalue = false;
    int detail = 1;
    bool sequential = true;
    double markcut = 5.0;
    std::array<char, 4> order{};  // chain identifiers of the best round: struct 1, struct 2
    std::string aln1, marker, aln2;
    std::vector<std::string> pairlines;
  } text;
};

// Compares a (structure 1) with b (structure 2). Throws Error when the pair
// cannot be compared (too short, too few contacts), with the classic message.
Result compare(const Interface& a, const Interface& b, const Options& options);

// The classic report of a result: the comparison's warnings, the banner, the
// structure lines and, for a significant alignment, everything after them.
// With a running time, the closing "Running time" line as well.
std::string report(const Result& r, std::optional<double> running_time = std::nullopt);

// The engine's settings of an options record (for the front ends).
Settings to_settings(const Options& options);
Options from_settings(const Settings& settings);

}  // namespace tarvix
