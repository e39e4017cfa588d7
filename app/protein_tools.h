// Residue types of proteins: the residue-type index, its three-letter and
// one-letter names, and the one-letter sequence of a chain.
#ifndef QUELVARN_APP_PROTEIN_TOOLS_H
#define QUELVARN_APP_PROTEIN_TOOLS_H

#include "foundation/vstring.h"
#include "model/minimol.h"

//! Conversions between residue names, one-letter codes and the type index.
/*! The type index runs 0 to 19 over ALA ARG ASN ASP CYS GLN GLU GLY HIS ILE
  LEU LYS MET PHE PRO SER THR TRP TYR VAL (one-letter "ARNDCQEGHILKMFPSTWYV");
  index 20 is selenomethionine, MSE, written "M". Every table of twenty
  per-type entries in the program uses this order. -1 marks a name that is
  none of the 21 types. Names compare exactly: no trimming, no case folding.
  Stateless; all members are static. */
class ProteinTools {
 public:
  ProteinTools() = delete;

  static constexpr int ntype = 21;
  static const char rtype3[ntype][4];
  static const char rtype1[ntype + 1];

  //! The type index of a three-letter name or a one-letter code, or -1.
  /*! With mse_is_met true, MSE gives 12 (MET), so a recognised name always
    indexes a table of twenty. "M" is always 12. */
  static int residue_index(vantrel::String name, bool mse_is_met);
  //! One-letter code of an index 0 to 20, else empty.
  static vantrel::String residue_code_1(int index);
  //! Three-letter name of an index 0 to 20, else empty.
  static vantrel::String residue_code_3(int index);
  //! The three-letter name of a one-letter code or the one-letter code of a
  //! three-letter name; empty when the name is not recognised.
  static vantrel::String residue_code(vantrel::String name, bool mse_is_met);
  //! One character per monomer: "+" for type "+++" (an inserted residue),
  //! "-" for "---" (a skipped letter), the one-letter code of a recognised
  //! type (MSE as "M"), "?" for anything else.
  static vantrel::String chain_sequence(const vantrel::MPolymer& chain);
};

#endif
