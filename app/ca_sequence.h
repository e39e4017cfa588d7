// Sequencing of protein chains: the scoring of every residue of a chain
// against the twenty residue types, its alignment with candidate sequences
// and the confidence of a score gap (static, app/ca_sequence.cpp); and the
// sequencing step that writes confident candidates into a model and keeps
// their history (a Ca_sequence object, app/sequencing_step.cpp; the history
// across objects in app/sequence_history.h).
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
/*! An object is a sequencing step with an acceptance level (reliability):
  operator() tidies a model's chains, ranks candidates for every chain of 6
  or more residues, applies the best one when it beats its competitor
  clearly enough, tags every residue of the chain with the result's tag (the
  property "TAG", a Property<int>) and appends the ranked list to the
  object's history. Tags come from the counter `tag`, shared by all objects
  and never reset; a rejected result's tag is the counter plus 10000. */
class Ca_sequence {
 public:
  //! One sequenced chain: its tag, whether its best candidate was applied,
  //! and its ranked candidates (possibly none).
  struct Result {
    int tag;
    bool accepted;
    Score_list<vantrel::String> list;
  };
  class History;

  //! A step accepting a candidate when phi_approx of its score gap to its
  //! competitor is below 1 - reliability; fatal unless 0 <= reliability <= 1.
  explicit Ca_sequence(double reliability);

  //! Rebuilds mol from mol_in by ProteinTools::chain_tidy, then sequences
  //! every chain of more than 5 residues in the map against the fine lists
  //! of the targets (one per residue type, index order) and the sequences
  //! (cleaned to their standard one-letter codes first). Always true.
  bool operator()(vantrel::MiniMol& mol, const vantrel::MiniMol& mol_in,
                  const vantrel::Xmap<float>& xmap, const std::vector<LLK_map_target>& targets,
                  const vantrel::MMoleculeSequence& sequences);
  //! Residues of a type other than "UNK" in the chains sequenced by the
  //! last call of operator().
  int num_sequenced() const { return num_sequenced_; }
  //! Every history entry of this object: a "Chain number:" line with the
  //! length of the candidates, then one line per candidate.
  vantrel::String format() const;

  //! The list with one more entry of score -999 when confident candidates
  //! that do not overlap (nor come within 3 residues of an earlier examined
  //! candidate) combine: each examined candidate competes with the first
  //! later entry that shares more than 0.2 of its letters, and is not
  //! accepted without one. Candidates without any letter are passed over.
  Score_list<vantrel::String> sequence_combine(const Score_list<vantrel::String>& scores,
                                               const double& reliability) const;
  //! Writes a candidate into the chain's residue types: letters as their
  //! three-letter names, "+" as "+++", "-" as "---". Unassigned residues
  //! keep their types, except that a run of typed residues is reset to
  //! "UNK" when the candidate contradicts it or an assignment begins or ends
  //! right against it. Fatal when the lengths differ.
  static void sequence_apply(vantrel::MPolymer& chain, const vantrel::String& seq);
  //! The fraction of a's letters (alphabetic characters, within the common
  //! length) that face a letter of b; 0 when a has none there.
  static double sequence_overlap(const vantrel::String& a, const vantrel::String& b);

  //! Sequenced chains so far, over all objects: the next result's tag.
  static int tag;

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
  static std::vector<vantrel::String> sequence_align(const std::vector<std::vector<double>>& scores,
                                                     const vantrel::String& sequence);
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
  static Score_list<vantrel::String> sequence_match(const std::vector<std::vector<double>>& scores,
                                                    const vantrel::MMoleculeSequence& sequences);

  //! Approximate standard normal distribution function: the confidence of a
  //! score gap z (exactly 0 or 1 where the exponential underflows).
  static double phi_approx(double z);

 private:
  double reliability_;
  int num_sequenced_ = 0;
  std::vector<Result> history_;
};

#endif
