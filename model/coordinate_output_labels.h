// What MMDBfile sets in the coordinate library's objects before it writes
// PDB or mmCIF text (once coordinate_output_ids finds nothing the form
// cannot hold): record kinds, label ids, entities and polymer extents, TER
// records and the mmCIF block code set as files from the PDB give them.
//
// Internal to the model code; the rules are those MMDBfile documents for
// its writes.
#ifndef VANTREL_MODEL_COORDINATE_OUTPUT_LABELS_H
#define VANTREL_MODEL_COORDINATE_OUTPUT_LABELS_H

#include <vector>

#include <mmdb2/mmdb_manager.h>
#include <mmdb2/mmdb_mmcif_.h>

#include "foundation/vstring.h"

namespace vantrel::mmdb_internal {

//! The table position of the last residue of the chain's run, the residues
//! its file gives as its polymer: those begun before the chain's first TER
//! record in record order (a residue whose atoms come in several runs is
//! placed by its first), or, without one and with read_labels (the model
//! was read from mmCIF), up to the last residue of the label_asym_id of
//! its first standard residue given as ATOM; -1 when the file gives no
//! run. Record order is the library's atom order: the file's until the
//! hierarchy is edited. A TER record before the chain's first atom ends no
//! run.
int run_end(mmdb::Chain* chain, bool read_labels);

//! Sets what the text forms write of each atom from the model itself: a
//! residue that is no standard residue is written as HETATM, the rest as
//! ATOM; the label ids are the atom and residue names, and the chain,
//! entity and position labels of each model's polymers, ligands and
//! waters. The library leaves placeholders in these fields for a model
//! made in memory (".", "---", -32767) and labels every residue of a PDB
//! file with its chain id and residue number; with read_labels (the last
//! file read was mmCIF) a residue keeps the labels it was read with where
//! they agree with its chain's polymers, ligands and waters. A chain's
//! polymer is a chain of residues, each bonded to at most one before it
//! and one after it, taken from the runs its file gives (run_end, and
//! stretches of bonded standard residues elsewhere), with the residues
//! bonded to their free ends; a chain holding both an amino-acid and a
//! nucleotide polymer has each apart. Each chain's residues are put in the
//! order they are written: its polymers first, in the order they had, with
//! each residue that joined from outside the runs where its bond puts it,
//! then its other residues in the order they had; the chain has one TER
//! record, after its polymers, and none without one (an mmCIF write sets
//! them aside while it writes: Ter_records_aside). Where records moved,
//! TER records came or went, or serial numbers do not rise in the written
//! order, the atoms are numbered anew in that order. Both forms leave the
//! model so: a second write, of either form, finds the polymers the first
//! found.
void set_output_labels(mmdb::Manager& mmdb, bool read_labels);

//! The library writes a TER record into mmCIF as an atom row without name
//! or position, which readers, this library's too, take for an atom at the
//! origin; mmCIF has no such records. While it lives, the model's TER
//! records are set aside, the atoms numbered on without them, for an mmCIF
//! write; after, each is put back at the end of the residue that held it,
//! and every record has its serial number back (a TER record in a residue
//! without atoms, which ends nothing, is dropped). The write then leaves
//! the model as a PDB write does.
class Ter_records_aside {
 public:
  explicit Ter_records_aside(mmdb::Manager& mmdb);
  ~Ter_records_aside();
  Ter_records_aside(const Ter_records_aside&) = delete;
  Ter_records_aside& operator=(const Ter_records_aside&) = delete;

 private:
  mmdb::Manager& mmdb_;
  std::vector<std::pair<mmdb::Residue*, int>> held_;  // the TER records' residues and serials
  std::vector<std::pair<mmdb::Atom*, int>> serials_;  // of the atoms
};

//! Completes the library's mmCIF data made for a write of the model (after
//! set_output_labels): adds what each entity is (_entity: polymer,
//! non-polymer or water; _entity_poly: the kind of polymer) and which
//! label_asym_id belongs to which (_struct_asym), which the library does
//! not write and readers otherwise guess; and has a blank chain id written
//! as an empty quoted value '' rather than ".", which readers (cctbx) take
//! for a missing one.
void complete_cif_data(mmdb::Manager& mmdb, mmdb::mmcif::Data& cif);

//! Gives the model the block code of an mmCIF write to file as its entry
//! id while it lives, and its own id back after. The library's writer
//! takes the block code from the entry id: that id, or when it has none
//! the output's name without folder and extension ("out" for
//! dir/out.cif.gz), in the characters a block code may hold (letters,
//! digits, "-", "_", "."; others become "_") and the 15 the entry id
//! holds; "model" when nothing is left. A bare "data_" is no block code:
//! cctbx reads no atom from such a file and gemmi takes the next word for
//! the name.
class Block_code {
 public:
  Block_code(mmdb::Manager& mmdb, const String& file);
  ~Block_code();
  Block_code(const Block_code&) = delete;
  Block_code& operator=(const Block_code&) = delete;

 private:
  mmdb::Manager& mmdb_;
  const String own_;
};

}  // namespace vantrel::mmdb_internal

#endif
