#include <algorithm>
#include <cmath>
#include <sstream>

#include "api/format.h"
#include "api/report.h"
#include "api/rounds.h"
#include "api/settings.h"
#include "api/tarvix.h"
#include "structure/causes.h"

namespace tarvix {
namespace {

[[noreturn]] void bad_option(const std::string& message) { throw Error(message, ExitCode::kUsage); }

// Residue i of a structure whose two chains the best round had reversed, as
// a position in the structure as read.
int index_as_read(const Structure& read, bool swapped, int i) {
  if (!swapped) return i;
  const int e1 = read.chains[1], e2 = read.chains[2];
  if (i > e2) return i;
  return i <= e2 - e1 ? i + e1 : i - (e2 - e1);
}

}  // namespace

void Options::validate() const {
  if (length && *length <= 0)
    bad_option("Error: the value of option -L must be a length of 1 or more, not " + std::to_string(*length));
  auto positive = [](const std::optional<double>& v, const char* option) {
    if (v && !(std::isfinite(*v) && *v > 0.0)) {
      std::ostringstream m;
      m << "Error: the value of option " << option << " must be above 0, not " << *v;
      bad_option(m.str());
    }
  };
  positive(d0, "-d0");
  positive(dmin, "-dmin");
  const int sp = static_cast<int>(speed), dt = static_cast<int>(detail), nm = static_cast<int>(normalization);
  if (sp < 0 || sp > 2) bad_option("Error: the speed mode (option -q) must be 0, 1 or 2");
  if (dt < 0 || dt > 2) bad_option("Error: the alignment detail (option -v) must be 0, 1 or 2");
  if (nm < 0 || nm > 3) bad_option("Error: unknown normalization");
}

bool Options::pvalue() const {
  return pvalue_allowed && !length && !dmin && normalization != Normalization::Average &&
         !(!sequential && score == ScoreType::TM);
}

Settings to_settings(const Options& o) {
  Settings s;
  s.scoretype = o.score == ScoreType::TM ? 0 : 1;
  s.scorecode = o.score == ScoreType::TM ? "TM" : "TX";
  s.seqmode = o.sequential ? 1 : 0;
  s.verbose = static_cast<int>(o.detail);
  if (!o.sequential && s.verbose == 1) s.verbose = 2;
  s.speedmode = static_cast<int>(o.speed);
  s.normmode = static_cast<int>(o.normalization);
  s.lenuser = o.length;
  s.d0user = o.d0;
  s.dminuser = o.dmin;
  s.seqd0 = o.seqd0;
  s.pvalue = o.pvalue();
  return s;
}

Options from_settings(const Settings& s) {
  Options o;
  o.score = s.scoretype == 0 ? ScoreType::TM : ScoreType::TX;
  o.sequential = s.seqmode != 0;
  o.speed = static_cast<SpeedMode>(s.speedmode);
  o.normalization = static_cast<Normalization>(s.normmode);
  o.length = s.lenuser;
  o.d0 = s.d0user;
  o.dmin = s.dminuser;
  o.seqd0 = s.seqd0;
  o.detail = static_cast<Detail>(s.verbose);
  o.pvalue_allowed = s.pvalue;
  return o;
}

Result compare(const Interface& a, const Interface& b, const Options& options) {
  options.validate();
  Settings set = to_settings(options);
  const Structure& r1 = a.structure();
  const Structure& r2 = b.structure();
  if (r1.len <= 5 || r2.len <= 5)
    throw Error("\n Error: the minimum length of a structure is six residues.\n\n" + why_too_short(r1, r2));
  const Derived der = derive_scoring_parameters(set, r1.len, r2.len);
  if (a.contacts() < 5 || b.contacts() < 5) {
    throw Error("num_cont1 =" + fmt::I(a.contacts(), 3) + ", num_con2=" + fmt::I(b.contacts(), 3) +
                "\nError: the number of contacts is too small. Please check your input files.\n\n" +
                why_few_contacts(r1, a.contacts(), r2, b.contacts()));
  }
  Result r;
  if (std::min(r1.len, r2.len) < 15) {
    set.pvalue = false;
    r.warnings.push_back(
        "Warning: a minimum of 15 residues is required for p-value calculations. P-value not "
        "caculated!\n");
  }
  r.name1 = a.name();
  r.name2 = b.name();
  r.length1 = r1.len;
  r.length2 = r2.len;
  r.contacts1 = a.contacts();
  r.contacts2 = b.contacts();
  r.chains1 = {r1.chainid_read[1], r1.chainid_read[2]};
  r.chains2 = {r2.chainid_read[1], r2.chainid_read[2]};
  r.normlen = der.normlen;
  r.d0 = der.d0norm;

  // The rounds reorder the chains of their own copies (sized for the
  // residues in use: an interface may keep records sized for more).
  Structure s1 = r1.compact(), s2 = r2.compact();
  const BestRound best = search_rounds(s1, s2, set, der);

  Result::Report& t = r.text;
  t.scorecode = set.scorecode;
  t.pvalue = set.pvalue;
  t.detail = set.verbose;
  t.sequential = set.seqmode != 0;
  t.markcut = der.markcut;
  static constexpr int kOrder[5][2][2] = {
      {{1, 2}, {1, 2}}, {{1, 2}, {1, 2}}, {{1, 2}, {2, 1}}, {{2, 1}, {2, 1}}, {{2, 1}, {1, 2}}};
  const auto& o = kOrder[std::clamp(best.round, 0, 4)];
  t.order = {r1.chainid_read[o[0][0]], r1.chainid_read[o[0][1]], r2.chainid_read[o[1][0]],
             r2.chainid_read[o[1][1]]};
  r.round = best.round;
  r.initial = best.initial;
  r.significant = best.pairs.n >= 3;
  if (!r.significant) return r;

  r.score = best.score;
  if (set.pvalue) {
    r.pvalue = best.pvalue;
    r.zscore = best.zscore;
  }
  r.aligned = best.pairs.n;
  r.aligned_contacts = best.ncontact;
  r.rmsd = best.rmsd;
  r.identity = best.seqid;
  for (int i = 0; i < 3; ++i) {
    r.translation[i] = best.t[i];
    for (int j = 0; j < 3; ++j) r.rotation[i][j] = best.u[i][j];
  }
  t.aln1 = best.aln1;
  t.marker = best.marker;
  t.aln2 = best.aln2;
  t.pairlines = best.pairlines;
  r.pairs.reserve(static_cast<size_t>(best.pairs.n));
  for (int k = 0; k < best.pairs.n; ++k) {
    AlignedPair p;
    p.index1 = index_as_read(r1, best.swapped1, best.pairs.r1[k]);
    p.index2 = index_as_read(r2, best.swapped2, best.pairs.r2[k]);
    p.residue1 = a.residue(p.index1);
    p.residue2 = b.residue(p.index2);
    p.distance = std::sqrt(dist2(best.pairs.x1[k], best.pairs.x2[k]));
    r.pairs.push_back(std::move(p));
  }
  return r;
}

std::string report(const Result& r, std::optional<double> running_time) {
  std::ostringstream out;
  for (const std::string& w : r.warnings) out << w;
  if (write_report(out, r) && running_time) write_running_time(out, *running_time);
  return out.str();
}

}  // namespace tarvix
