// Significance of a score: P-value and Z-score under an extreme-value (Gumbel)
// distribution whose location and scale depend on the logarithms of the two
// structure lengths.
#pragma once

namespace tarvix {

// Location mu and scale beta of the score distribution for one kind of run:
// scoretype 1 = TX-score, 0 = TM-score; seqmode 1 = sequential, 0 = non-sequential.
// Lengths below 20 count as 20 and beta is at least 0.002. Returns false, leaving
// mu and beta alone, for a kind of run that has no fitted distribution
// (non-sequential TM-score, or a code other than 0 or 1).
bool evd_params(int scoretype, int seqmode, int l1, int l2, double& mu, double& beta);

// P-value p and Z-score z of score s for structures of lengths l1 and l2.
// For a kind of run without a fitted distribution p = z = -1.
void calcpvalue(double s, int scoretype, int seqmode, int l1, int l2, double& p, double& z);

// Tail probability of the extreme-value distribution with location mu and
// scale beta at s, and the Z-score (s - mu) / beta.
void calcevdpv(double s, double mu, double beta, double& p, double& z);

}  // namespace tarvix
