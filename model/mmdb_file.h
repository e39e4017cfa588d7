// Coordinate files: reading and writing PDB, mmCIF and the coordinate
// library's binary form, and moving their content into and out of a MiniMol.
//
// Every node an import creates carries a "CID" property, the library's path
// of the object it came from, atoms with an alternate location an "AltConf"
// property, atoms given as HETATM (in mmCIF as a row's group_PDB says;
// where it gives neither kind, as the library marks them) a "Het" property
// and the residue that ends its chain's run (the residues the file gives
// as the polymer: before the chain's first TER record, or of its polymer's
// label_asym_id) a "Ter" property; exporting the model back into the same
// object finds those objects again through their paths and updates them in
// place, and an export gives the objects it creates the record kinds, and
// the residues it creates or finds the TER records, those properties tell,
// so that a new object's written file tells the polymer from free residues
// as its source did.
#ifndef VANTREL_MODEL_MMDB_FILE_H
#define VANTREL_MODEL_MMDB_FILE_H

#include "model/minimol.h"
#include "model/mmdb_manager.h"

namespace vantrel {

class Pending_outputs;

//! A coordinate file held by the coordinate library.
/*! Failures are fatal messages naming the file:
  "MMDBfile: read_file error: <file> : <code> (<description>)" and
  "MMDBfile: write_file error: <file> : <code> (<description>)", the code
  being the library's error code right-aligned in 4 characters and the
  description the library's own text for it.

  Input the library would not survive, or would read wrongly without a
  word, is refused before or after it reads, the line or atom named after
  the file: a path that is not a regular file (code 15); a line longer
  than 4095 characters; in PDB form an ANISOU, SIGATM or SIGUIJ record
  before any atom record of its model, a SEQRES record without a residue
  count, a HETNAM, HETSYN or FORMUL record beyond 80 columns, in a file
  with MODEL records an atom, ANISOU, SIGATM or SIGUIJ record outside its
  MODEL ... ENDMDL blocks (before the library reads it); in mmCIF
  form a word the parser takes for a tag (not in a text field, a quoted
  value or a comment) longer than 80 characters, and an identifier longer
  than its reader holds (chain 8, residue name 18, insertion code 8, atom
  name 18, alternate location 18, element 8 characters); an atom record
  without a position (code 11) or with a number that is not finite; a
  text of one of whose models the library holds fewer or more atoms than
  the text gives, the lowest number first ("the reader takes <n> of the
  <m> atoms the text holds for model <number>": it stops silently at a
  header record after MODEL or TER, or at an mmCIF row without residue
  numbers, and drops an ATOM record whose serial number runs into columns
  5-6; "the reader takes <n> atoms into model <number>, where the text
  holds <m>"); in PDB form a model number given to two parts of the text
  (naming the line and the number). The text's models are numbered as the
  library numbers them (a MODEL record's columns 11-14, an mmCIF model
  number, read as strtod reads them and rounded half up; an mmCIF row
  whose number does not read so is in the model of the row before). The
  library holds model numbers from 1 only: a text that gives any model a
  number below 1 has all its models numbered from 1, in both forms, in
  the order it first gives each number (a lone MODEL 0 or -1 is model 1;
  models 0 and 1 are models 1 and 2), and they are read, and written,
  under those numbers; a text that would so need a MODEL number past 9999
  is refused naming it. A TER record before the first atom of a model
  ends nothing and is dropped (the library keeps it in a residue, and
  before MODEL in a model, of its own, with ids no write takes). A file
  in mmCIF or the library's binary form is first read in a child process
  and refused when that crashes, uses over 5 seconds of processor time
  and one more per megabyte, or does not finish within 20 times that,
  whatever the caller's signal settings and however busy the machine; a
  failed fork is reported as such. The
  mmCIF category _struct_ncs_oper is not read (the library fails on any
  loop of it), and the model is that of the file without it.

  A write first checks the path ("MMDBfile: write_file error: cannot write
  <file>: <reason>"; for pending outputs the program's name stands for
  "MMDBfile: write_file error" in this and every later failure of putting
  the file in place), then refuses a model whose identifiers or numbers the
  form cannot hold. Both forms: only printable ASCII. PDB: chain 2,
  residue name 3, insertion code 1, atom name 4, alternate location 1,
  element 2 characters, model numbers up to 9999, residue numbers -999 to
  2436111 (hybrid-36 past 9999, where no insertion code is written), the
  widths of its number columns. mmCIF: the reader's limits above, and no value starting with
  "_", "#", "$" or ";" or with a reserved word (data_, loop_, save_,
  global_, stop_, in any case); quotes are written, and anisotropic rows
  only for atoms with anisotropic U. The whole file is
  rendered in memory, written with every write checked and put in place
  only when complete (Output_file, which says when a file is rewritten in
  place rather than replaced, and what a failure to put it in place
  leaves), so a refused or cut write leaves the target as it was.

  Both text forms write a residue that is no standard amino acid or
  nucleotide as HETATM, the rest as ATOM. A polymer bond joins a carbon of
  one residue to a nitrogen of another within 1.5 x 1.33 A, or an oxygen to
  a phosphorus within 1.5 x 1.61 A, whatever the atoms are named, but on a
  standard residue's side only its backbone atom (C or N; O3' or P):
  hydrogens, metals and a sugar on an asparagine's ND2 join nothing. A
  chain's run is what its file gives as the polymer: its residues before its
  first TER record in the file's record order (PDB), or of its polymer's
  label_asym_id (mmCIF); without either, those from its first to its last
  standard residue of the chain's kind (amino acid or nucleotide, as most of
  those given as ATOM are) given as ATOM. In the run, the polymer holds the
  standard residues of that kind and the residues between two of them with
  that kind's backbone atoms (N, CA and C; P and O3'), but not a HETATM or
  such residue that is bonded to nothing and lies between two residues
  bonded to each other; in the run or not, it holds every residue bonded to
  it (caps, modified residues, a chromophore). In a chain without a standard
  residue given as ATOM, the bonded residues are polymer (a glycan stays
  ligands). Water (HOH, WAT, DOD, H2O) is never polymer; any other residue
  outside the polymer is a ligand. Each chain's polymer is written first,
  the residues of the run in their order (a cyclic peptide too) and one from
  outside it next to the residue it bonds: after the one whose C (O3') it
  bonds, else before the one whose N (P) it bonds; then its other residues
  in their order. A peptide is L or D (_entity_poly.type) as most of its
  residues are: a standard one L, a D-amino acid by its name, another by the
  hand of its CA's bonds to N, C and CB. mmCIF label ids are those of
  files from the PDB: the atom and residue names; a label_asym_id (A, B ...
  Z, AA, BA ...) for each chain's polymer, then each ligand, then each
  chain's waters; label_entity_ids numbering the distinct polymer
  sequences, then the ligands' residue names, then water; label_seq_id
  from 1 along each polymer, stepping by 1 across a backbone bond and
  elsewhere by the step of the residue numbers (missing residues), "." for
  other residues. An entity's polymers give the same residue at every
  label_seq_id they share. A model last read from mmCIF keeps the labels it
  was read with where they agree with its polymers, ligands and waters as
  written: a residue they moved out of the label_asym_id it was read in,
  and one without labels, gets new labels with its group, beside those
  kept, so that each label_asym_id holds one entity and label_seq_id rises
  along each polymer; an entity read is kept by its first polymer and each
  later one that agrees so with those that kept it (chains observed over
  different lengths), the others sharing new entities where they agree so.
  The mmCIF
  block code is the model's entry id, or without one the file's name less
  folder and extension (a gzip ending dropped first), in letters, digits, "-",
  "_" and "." (others become "_"), at most 15 characters. TER records are
  not written to mmCIF (the library writes them as atoms); in PDB form a
  chain has one TER record, after its polymer. A model keeps its number (a
  lone model 2 is written MODEL 2 ... ENDMDL in PDB form). A write of
  either form sets these in the library's objects (the entry id only
  while it writes), and leaves them as a PDB write does, the TER records
  included: a later write of either form finds the same polymers. */
class MMDBfile : public MMDBManager {
 public:
  //! Reads a PDB, mmCIF or binary file, the form recognised from its content
  //! (a file of a gzip name, Files::gzip_named, read through gzip), under
  //! the flags set beforehand.
  void read_file(const String& file);
  //! Writes the whole content in the given form, compressed (gzip) under a
  //! gzip name as given; AS_READ uses the form of the last file read, PDB
  //! when none was read.
  void write_file(const String& file, TYPE type);
  //! The same, the output handed to pending, which puts it in place with
  //! its others; a refusal also says what became of each of those.
  void write_file(const String& file, TYPE type, Pending_outputs& pending);
  //! Replaces the model by the library's first model (restricted to the atoms of
  //! a library selection handle when selection >= 0), with the library's
  //! spacegroup and cell. TER records become no atoms (a "Ter" property on
  //! the last residue taken of each chain's run); atom names are kept whole
  //! (mmCIF allows more than 4 characters); numbers the file does not give
  //! are missing (NaN); isotropic U = B / 8 pi^2.
  void import_minimol(MiniMol& model, int selection);
  //! Writes the model into the library's hierarchy: objects found through
  //! the nodes' "CID" paths are updated, the rest created in model order, a
  //! created model with the number its "CID" path gives (a file's lone
  //! model 2 stays model 2) unless another model has it, a created atom a
  //! HETATM record when it has a "Het" property; a created residue with a
  //! "Ter" property is followed by a TER record, and in a chain found with
  //! TER records they move to the residues with one.
  //! Missing numbers leave the library's values as they were.
  void export_minimol(const MiniMol& model);

 private:
  void write_output(const String& file, TYPE type, Pending_outputs* pending);
};

namespace internal {
//! When above 0, the time in seconds that the child read of a binary or
//! mmCIF file may take, in place of its size-based limit (for tests).
extern double child_read_seconds;
}  // namespace internal

}  // namespace vantrel

#endif
