// Sequence history: the results of several sequencing steps, reported
// against a final model in which each result's chains are found by the
// "TAG" property of their residues.
#ifndef QUELVARN_APP_SEQUENCE_HISTORY_H
#define QUELVARN_APP_SEQUENCE_HISTORY_H

#include <vector>

#include "app/ca_sequence.h"
#include "foundation/vstring.h"
#include "model/minimol.h"

//! The results of Ca_sequence objects, in the order appended.
class Ca_sequence::History {
 public:
  //! Appends a copy of every result of the object's history, in order.
  void append(const Ca_sequence& seq);
  //! For every result some residue of the model still carries the tag of
  //! (as its first "TAG" property): a line with the candidates' length and
  //! the ids of those chains (ascending), then up to 5 candidates, the best
  //! marked " Accepted: " or " Rejected: ". Results found nowhere give no
  //! text.
  vantrel::String format(const vantrel::MiniMol& mol) const;

 private:
  std::vector<Ca_sequence::Result> history_;
};

#endif
