// Protein tools: the residue-type index with its three-letter and one-letter
// names, the one-letter sequence of a chain and the cleaning of sequence
// text (app/protein_tools.cpp), and the tidying of whole models
// (app/model_tidying.cpp).
#ifndef QUELVARN_APP_PROTEIN_TOOLS_H
#define QUELVARN_APP_PROTEIN_TOOLS_H

#include <utility>

#include "foundation/vstring.h"
#include "model/minimol.h"
#include "model/sequence.h"
#include "symmetry/coords.h"

//! Conversions between residue names, one-letter codes and the type index,
//! and the tidying of protein models.
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
  //! The text's twenty standard one-letter codes in order; every other
  //! character (lower case, blanks, "X", "*", ...) is dropped.
  static vantrel::String sequence_clean(const vantrel::String& text);

  // Model tidying. A fragment is a maximal run of residues of one polymer,
  // each joined to the next by a peptide bond: C of one and N of the next
  // closer than 1.5 A, plain coordinates.

  //! Moves every fragment, as a rigid body, by the symmetry operator and
  //! lattice translation that bring its atom centroid nearest the centre
  //! (fractional); the earlier operator wins a tie. Always true.
  /*! A spacegroup without operators counts as P1. Fatal when the model has
    atoms but no cell. */
  static bool globularise(vantrel::MiniMol& mol, vantrel::Coord_frac centre);
  //! Three passes of globularise about the atom centroid of the whole model
  //! as it stands; a model without atoms is left alone. Always true.
  static bool globularise(vantrel::MiniMol& mol);
  //! Every residue of type "UNK" with a CA takes the type of the first
  //! typed reference residue (reference order) whose CA has a symmetry and
  //! lattice copy closer than 1 A to it. Always true.
  static bool copy_residue_types(vantrel::MiniMol& mol, const vantrel::MiniMol& mol_ref);
  //! Where a chain sequence (as chain_sequence gives it) lies in the cleaned
  //! sequences: (record, offset), character k of the chain facing character
  //! k + offset of the record; (-1, -1) when no placement has more than
  //! (upper-case letters of the chain) / 3 + 4 identities. The first best
  //! placement (lowest record, then offset) wins.
  static std::pair<int, int> chain_sequence_match(const vantrel::String& chnseq,
                                                  const vantrel::MMoleculeSequence& seq);
  //! Numbers the chain's residues from its placement in the sequences:
  //! residue i gets offset + i + 1, no insertion code. False, and the chain
  //! unchanged, when it matches no sequence.
  static bool chain_renumber(vantrel::MPolymer& pol, const vantrel::MMoleculeSequence& seq);
  //! Rebuilds mol from mol_in (which may be mol itself) as its fragments, longest
  //! first (equal lengths in source order), chain ids "A" to "Z" then "a" to
  //! "z" repeated, residues numbered from 1 (from 1000 k + 1 in the k-th
  //! pass, k from 0, through the lower-case ids). Always true.
  static bool chain_tidy(vantrel::MiniMol& mol, const vantrel::MiniMol& mol_in);
};

#endif
