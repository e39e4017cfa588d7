// Sequence scoring and alignment: the density fit of every residue of a
// chain to the twenty residue types, its alignment with candidate sequences,
// the best-scoring segment of each alignment, and the confidence of a score
// gap.
#ifndef QUELVARN_APP_CA_SEQUENCE_H
#define QUELVARN_APP_CA_SEQUENCE_H

#include <vector>

#include "app/llk_map_target.h"
#include "app/score_list.h"
#include "foundation/vstring.h"
#include "maps/xmap.h"
#include "model/minimol.h"
#include "model/sequence.h"

// Lower is better throughout. The score matrix has one row per residue of a
// chain, in chain order, and one column per residue type in the order of the
// type index (ProteinTools): entry (r, t) is the normalised fit of type t at
// residue r, more negative for a better fit. A candidate string has one
// character per residue: a one-letter code assigned from the sequence, "?"
// (unassigned), "+" (a residue that takes no letter between two assigned
// neighbours) or "-" (a residue standing where the sequence skips a letter).

//! Sequencing of a protein chain against residue density targets.
class Ca_sequence {
 public:
  //! Best segment of a candidate: residues first to last - 1, weighted sum.
  struct Segment {
    double score;
    int first;
    int last;
  };

  //! Scores every residue of the chain against the sampled targets (one per
  //! residue type, index order) in the map at its beta-carbon frame,
  //! normalises the matrix and ranks the candidates of sequence_match.
  /*! A residue lacking N, CA or C keeps a raw row of zeros. Untrained
    targets (LLK_map_target::Sampled::trained false) take no part in the
    row means and give a column of zeros, as does a column without spread:
    their letters are neutral in the alignment. */
  static Score_list<vantrel::String> sequence_chain(
      const vantrel::MPolymer& chain, const vantrel::Xmap<float>& xmap,
      const std::vector<LLK_map_target::Sampled>& targets,
      const vantrel::MMoleculeSequence& sequences);

  //! The raw fit matrix of sequence_chain before normalisation.
  static std::vector<std::vector<double>> score_matrix_raw(
      const vantrel::MPolymer& chain, const vantrel::Xmap<float>& xmap,
      const std::vector<LLK_map_target::Sampled>& targets);
  //! Row-mean smoothing and column normalisation of a raw matrix, in place;
  //! columns flagged false in trained become zero and stay out of the row
  //! means (an empty flag list means every column is trained).
  static void normalise_scores(std::vector<std::vector<double>>& scores,
                               const std::vector<bool>& trained);

  //! Every alignment of the sequence to the residues, as candidate strings,
  //! one per alignment end that no other alignment extends. Letters without
  //! a residue type are dropped first; empty when fewer than 3 residues or
  //! letters remain.
  static std::vector<vantrel::String> sequence_align(
      const std::vector<std::vector<double>>& scores, const vantrel::String& sequence);
  //! The segment of the candidate with the lowest length-weighted sum of
  //! scores ("+" and "-" cost 3, "?" nothing); (0, 0, n) when no segment
  //! sum is negative. The first minimum in (first, last) order wins.
  static Segment sequence_score(const std::vector<std::vector<double>>& scores,
                                const vantrel::String& candidate);
  //! Fraction of positions (over the common length) known in either string
  //! at which both hold the same residue type; 0 when none is counted.
  static double sequence_similarity(const vantrel::String& a, const vantrel::String& b);
  //! The best 50 mutually dissimilar candidates of all alignments of all
  //! sequences, each masked to its best segment; when the first record is
  //! "TEST", its unmasked sequence is offered too if it differs from the best.
  static Score_list<vantrel::String> sequence_match(
      const std::vector<std::vector<double>>& scores,
      const vantrel::MMoleculeSequence& sequences);

  //! Approximate standard normal distribution function: the confidence of a
  //! score gap z (exactly 0 or 1 where the exponential underflows).
  static double phi_approx(double z);
};

#endif
