// Small pure pieces of the superposition search, kept apart so that they can
// be checked on their own: which seed windows are tried, and how far the
// close-pair cutoff is widened.
#pragma once

namespace tarvix {

inline constexpr int kMaxSeedLengths = 6;

// Seed window lengths for n pairs, longest first: n alone when n <= 4;
// otherwise n, then n/2, n/4, n/8, n/16 while each is above 4, then 4.
// Writes them to len[0..] and returns their number (at most 6).
int seed_lengths(int n, int len[kMaxSeedLengths]);

// Distance between seed starts: in mode 1 it depends on the number of pairs
// nmin (5, 10, 40, 20, 30, 40 for up to 20, 40, 60, 80, 120 and above);
// every other mode tries every start.
int seed_step(int mode, int nmin);

// Starts (1-based pair positions) of the windows of length len over n pairs:
// 1, 1 + step, ... ((n - len + step) / step of them), then the last possible
// start n - len + 1 if the spaced ones stop short of it. Returns the count.
// starts must hold n / step + 2 entries.
int seed_starts(int n, int len, int step, int* starts);

// The cutoff under which the close pairs of a superposition are collected:
// d, raised by 0.5 as often as needed to have at least three of the n
// distances below it (no widening for n < 3). Distances that are not finite
// never count; when fewer than three are finite the cutoff stays d.
double close_cutoff(const double* dist, int n, double d);

// The first of cut, cut + 0.5, cut + 0.5 + 0.5, ... (summed one step at a
// time, as the widening loops do) that reaches target: target <= value when
// inclusive, target < value otherwise. A target more than a million steps away
// is approached by one jump first, so that no input can make the widening run
// for long; near the target the steps are taken one by one. A cutoff that can
// no longer grow is returned as it is.
double widen_cutoff(double cut, double target, bool inclusive);

// The third smallest finite value of v[0..n-1], or infinity when there are
// fewer than three.
double third_smallest(const double* v, int n);

// The positions k < n whose distance sqrt(dd[k]) lies below d, in increasing
// order, into out[0..n); returns how many. The same positions as the
// distances give, with a square root taken only for a square within a
// relative 1e-12 of d^2 (or for every square when d lies outside 1e-100 to
// 1e100).
int close_pairs_of_squares(const double* dd, int n, double d, int* out);

namespace detail {
extern bool tmsearch_every_trial;  // tests: score every trial, none skipped by its bound
extern int tmsearch_seed_group;    // tests: seeds made side by side (1 to 4)
}  // namespace detail

}  // namespace tarvix
