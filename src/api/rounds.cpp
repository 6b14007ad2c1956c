#include "api/rounds.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "api/format.h"
#include "stats/pvalue.h"
#include "structure/chains.h"

namespace tarvix {
namespace {

double search_distance(double d0) {
  double d = std::min(d0, 8.0);
  return d < 3.0 ? 4.5 : d;
}

double rescale(double score, double len) {
  const double s0 = 0.18 - 0.35 * std::pow(len, -0.3);
  return (score + s0) / (1.0 + s0);
}

}  // namespace

PairList::PairList(int capacity) : x1(capacity), x2(capacity), r1(capacity), r2(capacity) {}

void get_transmatrix(const PairList& pairs, const Structure& s1, double u[3][3], double t[3]) {
  // Three pairs fix a motion as well as more do.
  if (pairs.n < 3) return;
  std::vector<Coord> unmoved(static_cast<size_t>(pairs.n));
  for (int k = 0; k < pairs.n; ++k) unmoved[k] = s1.ca[pairs.r1[k]];
  superpose(unmoved.data(), pairs.x1.data(), pairs.n, u, t);
}

std::string formatseq(const Structure& s) {
  std::string out(s.seq.begin(), s.seq.begin() + std::max(s.len, s.chains[s.nchain]) + 1);
  for (int k = 1; k <= s.nchain; ++k)
    for (int i = s.chains[k - 1] + 1; i <= s.chains[k]; ++i)
      out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[i])));
  for (int k = 2; k <= s.nchain; k += 2)
    for (int i = s.chains[k - 1] + 1; i <= s.chains[k]; ++i)
      out[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[i])));
  return out;
}

void get_alnseq(const PairList& pairs, const Structure& s1, const Structure& s2, double markcut,
                std::string& aln1, std::string& marker, std::string& aln2) {
  const int end1 = s1.chains[s1.nchain];
  const int end2 = s2.chains[s2.nchain];
  const int len = end1 + end2 - pairs.n;
  const std::string f1 = formatseq(s1);
  const std::string f2 = formatseq(s2);
  aln1.clear();
  marker.clear();
  aln2.clear();
  int p1 = 0, p2 = 0;
  for (int k = 0; k <= pairs.n; ++k) {
    const int i = k < pairs.n ? pairs.r1[k] : end1 + 1;
    const int j = k < pairs.n ? pairs.r2[k] : end2 + 1;
    for (int a = p1 + 1; a <= i - 1; ++a) {
      aln1.push_back(f1[a]);
      marker.push_back(' ');
      aln2.push_back('-');
    }
    for (int b = p2 + 1; b <= j - 1; ++b) {
      aln1.push_back('-');
      marker.push_back(' ');
      aln2.push_back(f2[b]);
    }
    if (k == pairs.n) break;
    aln1.push_back(f1[i]);
    aln2.push_back(f2[j]);
    marker.push_back(std::sqrt(dist2(pairs.x1[k], pairs.x2[k])) <= markcut ? ':' : '.');
    p1 = i;
    p2 = j;
  }
  // The lines are exactly len columns: any not reached stay gaps, and columns
  // of residues past the last chain end fall outside them.
  const size_t cols = static_cast<size_t>(std::max(len, 0));
  aln1.resize(cols, '-');
  marker.resize(cols, ' ');
  aln2.resize(cols, '-');
}

void get_matchlst(const PairList& pairs, const Structure& s1, const Structure& s2,
                  FlagMatrix& aligned, std::vector<std::string>& lines) {
  aligned.fill_block(s1.len, s2.len, -1);
  for (int k = 0; k < pairs.n; ++k) aligned(pairs.r1[k], pairs.r2[k]) = 1;
  lines.clear();
  for (int k = 0; k < pairs.n; ++k) {
    const int i = pairs.r1[k];
    const int j = pairs.r2[k];
    const double d = std::sqrt(dist2(pairs.x1[k], pairs.x2[k]));
    std::string note = "   ";
    if (d < 5.0) note[1] = ':';
    if (s1.seq[i] == s2.seq[j] && s1.seq[i] != 'X') note[2] = '*';
    double fcol = 0.0;
    int nac = 0;
    get_fcol_4s_old(i, j, aligned, fcol, nac, s1, s2);
    std::string line = fmt::I(k + 1, 5) + fmt::X(2) + fmt::A(std::string(1, s1.chainid[s1.id2chain[i]]), 3) +
                       fmt::X(1) + fmt::A(std::string(s1.resnum[i].data(), 5), 5) + fmt::X(2) +
                       fmt::A(fmt::aa1toaa3(s1.seq[i]), 3) + fmt::X(4) +
                       fmt::A(std::string(1, s2.chainid[s2.id2chain[j]]), 3) + fmt::X(1) +
                       fmt::A(std::string(s2.resnum[j].data(), 5), 5) + fmt::X(2) +
                       fmt::A(fmt::aa1toaa3(s2.seq[j]), 3) + fmt::X(4) + fmt::F(d, 6, 3) +
                       fmt::I(nac, 5) + fmt::I(s1.contnum[i], 4) + fmt::I(s2.contnum[j], 4) +
                       fmt::A(note, 4);
    lines.push_back(fmt::pad_right(line, 70));
  }
}

BestRound search_rounds(Structure& s1, Structure& s2, const Settings& set, const Derived& der) {
  const ScoringParams& par = der.par;
  const int l1 = s1.len;
  const int l2 = s2.len;
  SearchWorkspace ws(l1, l2);
  Context ctx{s1, s2, par, ws.scoring};
  FlagMatrix aligned;  // the table of aligned pairs (-v 2) only
  if (set.verbose == 2) aligned.resize(l1, l2, -1);
  std::vector<int> invmap(std::max(l1, l2) + 1, -1), byres1(std::max(l1, l2) + 1, -1);
  PairList cur(std::max(l1, l2) + 1);
  BestRound best;
  best.pairs = PairList(std::max(l1, l2) + 1);
  const double d0search = search_distance(par.d0[0]);
  const double d0search3 = std::max(std::min(der.d0norm, 8.0), 4.5);
  for (int r = 1; r <= 4; ++r) {
    if ((best.scoremin > 0.99 && r > 1) || (best.scoremin > 0.9 && r > 2) ||
        (r > 2 && set.speedmode == 2))
      break;
    if (r == 2 || r == 4) swap_chains(s2);
    if (r == 3) swap_chains(s1);
    std::fill(invmap.begin(), invmap.end(), -1);
    const SearchResult sr = super_align(ctx, ws, invmap.data(), set.scoretype, set.seqmode, set.speedmode);

    // The pairs of the map, in structure-2 order or, when asked, structure-1 order.
    int n = 0;
    auto add = [&](int i, int j) {
      cur.r1[n] = i;
      cur.r2[n] = j;
      cur.x1[n] = s1.ca[i];
      cur.x2[n] = s2.ca[j];
      ++n;
    };
    if (sr.order1used == 0) {
      for (int j = 1; j <= l2; ++j)
        if (invmap[j] > 0) add(invmap[j], j);
    } else {
      std::fill_n(byres1.begin() + 1, l1, -1);
      for (int j = 1; j <= l2; ++j)
        if (invmap[j] > 0) byres1[invmap[j]] = j;
      for (int i = 1; i <= l1; ++i)
        if (byres1[i] > 0) add(i, byres1[i]);
    }
    cur.n = n;

    double score = 0.0, rmsd = 0.0;
    int ncontact = 0;
    tmsearch(ctx, par.d0[0], d0search, n, cur.x1.data(), cur.r1.data(), cur.x2.data(),
             cur.r2.data(), score, rmsd, 2, set.scoretype, ncontact);
    int nkept = 0, identical = 0;
    for (int k = 0; k < n; ++k) {
      if (std::sqrt(dist2(cur.x1[k], cur.x2[k])) <= par.d8) {
        cur.x1[nkept] = cur.x1[k];
        cur.x2[nkept] = cur.x2[k];
        cur.r1[nkept] = cur.r1[k];
        cur.r2[nkept] = cur.r2[k];
        if (std::memcmp(s1.resname[cur.r1[k]].data(), s2.resname[cur.r2[k]].data(), 3) == 0)
          ++identical;
        ++nkept;
      }
    }
    cur.n = nkept;
    // Computed in single precision; no kept pair means no identity at all.
    const double seqid =
        nkept > 0 ? static_cast<double>(static_cast<float>(identical) / static_cast<float>(nkept)) : 0.0;

    tmsearch(ctx, par.d0[0], d0search, nkept, cur.x1.data(), cur.r1.data(), cur.x2.data(),
             cur.r2.data(), score, rmsd, 3, set.scoretype, ncontact);
    double scoremin = nkept * score / par.d0[1];
    const double rmsdmin = rmsd;
    double pvalue = -1.0, zscore = -1.0;
    if (set.pvalue) {
      if (set.scoretype == 1) scoremin = rescale(scoremin, par.d0[1]);
      calcpvalue(scoremin, set.scoretype, set.seqmode, l1, l2, pvalue, zscore);
    }
    const bool better = scoremin - best.scoremin > 1e-6 ||
                        (best.rmsdmin - rmsdmin > 1e-6 && std::fabs(scoremin - best.scoremin) < 1e-6);
    if (!better) continue;
    // The reported score, only for a round that is kept.
    tmsearch(ctx, der.d0norm, d0search3, nkept, cur.x1.data(), cur.r1.data(), cur.x2.data(),
             cur.r2.data(), score, rmsd, 3, set.scoretype, ncontact);
    double reported = nkept * score / der.normlen;
    if (set.scoretype == 1) reported = rescale(reported, der.normlen);

    PairList& bp = best.pairs;
    bp.n = nkept;
    std::copy_n(cur.x1.begin(), nkept, bp.x1.begin());
    std::copy_n(cur.x2.begin(), nkept, bp.x2.begin());
    std::copy_n(cur.r1.begin(), nkept, bp.r1.begin());
    std::copy_n(cur.r2.begin(), nkept, bp.r2.begin());
    if (set.scoretype == 0) cal_col(ctx, bp.r1.data(), bp.r2.data(), nkept, ncontact);
    best.score = reported;
    best.scoremin = scoremin;
    best.rmsdmin = rmsdmin;
    best.rmsd = rmsd;
    best.seqid = seqid;
    best.pvalue = pvalue;
    best.zscore = zscore;
    best.ncontact = ncontact;
    best.round = r;
    best.initial = sr.initial;
    best.swapped1 = r >= 3 && s1.nchain == 2;
    best.swapped2 = (r == 2 || r == 3) && s2.nchain == 2;
    get_transmatrix(bp, s1, best.u, best.t);
    if (set.verbose == 2) get_matchlst(bp, s1, s2, aligned, best.pairlines);
    if (set.verbose == 1) get_alnseq(bp, s1, s2, der.markcut, best.aln1, best.marker, best.aln2);
  }
  return best;
}

}  // namespace tarvix
