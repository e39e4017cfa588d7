// The per-chain report: assigned and preferred sequences, the confidence of
// the preference and a verdict sentence.
#ifndef QUELVARN_APP_CHAIN_REPORT_H
#define QUELVARN_APP_CHAIN_REPORT_H

#include <ostream>

#include "app/score_list.h"
#include "foundation/vstring.h"
#include "model/minimol.h"

//! Writes the report of one scored chain to out, flushing at every newline.
/*! chain holds the chain's amino-acid residues, result the ranked
  candidates of Ca_sequence::sequence_chain for it. The confidence is
  phi_approx of the score gap between the two best candidates (0 with fewer
  than two); the verdict compares the best candidate with the assigned
  sequence letter by letter. */
void chain_report(std::ostream& out, const vantrel::String& chain_id,
                  const vantrel::MPolymer& chain, const Score_list<vantrel::String>& result);

#endif
