// Checks of coordinate text around the coordinate library's reader: faults
// of lines and fields that the reader would not survive or would read
// wrongly, found in the text before it reads, and the atoms it took,
// compared with the text after.
//
// Internal to the model code: MMDBfile's reads (and its writes, which must
// read back) call them, and a fault found becomes its refusal of the file.
#ifndef VANTREL_MODEL_COORDINATE_TEXT_CHECKS_H
#define VANTREL_MODEL_COORDINATE_TEXT_CHECKS_H

#include <cstddef>
#include <map>
#include <vector>

#include <mmdb2/mmdb_manager.h>
#include <mmdb2/mmdb_mmcif_.h>

#include "foundation/vstring.h"

namespace vantrel::mmdb_internal {

//! How the library reads a file: through gzip when its name is a gzip
//! name (Files::gzip_named), as it is otherwise. The library's own test
//! of the name (GZM_CHECK) knows ".gz" in lower case only.
mmdb::io::GZ_MODE read_mode(const String& file);

//! The bytes the library will read: it decompresses a file of a gzip name
//! through gzip, which zlib reads the same way; other files are read as
//! they are. A file that cannot be read is a read error (code 15).
String file_content(const String& file);

//! True when the library's reader will take a text (a file's content, as
//! file_content gives it) for mmCIF under flags: its own tests, in the
//! order the reader applies them, made on the text in memory, so that the
//! file is read once. A PDB record before any data block makes it PDB;
//! otherwise a "data_" line makes it mmCIF, even after lines the reader
//! does not know (which it skips).
bool reads_as_cif(const String& content, mmdb::word flags);

//! The first fault of a text that the library cannot read safely, naming
//! its line ("line <n>: ..."); empty when none: no line longer than its
//! buffer; in mmCIF form no tag longer than its parser takes; in PDB form
//! no anisotropic or standard-deviation record before the first atom
//! record of its model (the library attaches such a record to the atom
//! before it, and crashes without one), no SEQRES record without a residue
//! count, and no HETNAM, HETSYN or FORMUL record beyond 80 columns (the
//! library gathers their text into fixed buffers).
String line_fault(const String& content, bool cif);

//! The longest value of an mmCIF identifier that the library's mmCIF
//! reader holds whole, and what the identifier is ("chain id"). One
//! character more and it misreads or overruns: a chain id of 9 overruns a
//! buffer (the process aborts), a residue name of 19 reads unset memory
//! and one in a monomer list overruns the heap, an insertion code of 9
//! reads unset memory and longer ones are cut to 9, an atom name or
//! alternate location of 19 and an element of 9 are stored without their
//! end and read into the next field.
struct Cif_limit {
  const char* tag_end;
  const char* what;
  std::size_t longest;
};

//! The limit of the identifier a tag holds, matched on the end of the tag
//! in every category, as the same identifiers recur (label_asym_id,
//! auth_asym_id, beg_label_asym_id ...); null for a tag of no identifier.
const Cif_limit* cif_limit(const String& tag);

//! The first identifier of parsed mmCIF data that the library cannot hold
//! (cif_limit), with its category and tag; empty when none.
String cif_field_fault(mmdb::mmcif::Data& cif);

//! Parses an mmCIF file as the library's own reader does (stopping at the
//! first syntax fault); 0 or the library's code for the fault.
int parse_cif(mmdb::mmcif::Data& cif, const String& file, mmdb::word flags);

//! True when the text ends with its data line: the library's reader of
//! whole files takes such a file for no mmCIF at all.
bool ends_at_data_line(const String& content);

//! The first fault that the library's reader could not survive or would
//! read wrongly, in a text of either form (line_fault, and for mmCIF
//! cif_field_fault); empty when none. The text is read from memory, as the
//! library would read a file holding it.
String text_fault(const String& content, mmdb::word flags);

//! A PDB file that ends inside an atom record reads as success, its last
//! atom holding no position; a position of "nan" or "inf" reads as that
//! number. Refuses the file unless every atom record holds a position
//! (code 11, naming its residue) and every number read is finite.
void check_atoms(mmdb::Manager& mmdb, const String& file);

//! The numbers a text's models are read under. The library holds model
//! numbers from 1 only: it refuses a MODEL record of 0 or below, and reads
//! an mmCIF row of one into the model of the row before, merging two
//! models. So a text that gives any model a number below 1 has every model
//! numbered from 1 before the library reads it, in the order the text first
//! gives each number (a lone model 0 or -1 is model 1; models 0 and 1 are 1
//! and 2, and so are models 1 and 0); other texts keep their numbers.
//! Numbers are read as strtod reads them and rounded half up ("1e0" and
//! "0x1" are 1, "-0.6" is -1), from columns 11-14 of a MODEL record or an
//! mmCIF row's pdbx_PDB_model_num.
class Model_numbering {
 public:
  void give(const int number) {
    if (order_.emplace(number, int(order_.size()) + 1).second && number < 1) renumbers_ = true;
  }
  bool renumbers() const { return renumbers_; }
  //! The number held for one given.
  int held(const int number) const { return renumbers_ ? order_.at(number) : number; }

 private:
  std::map<int, int> order_;  // each number given, to its rank in the text
  bool renumbers_ = false;
};

//! The numbering of a PDB text's models, from its MODEL records up to an
//! END record.
Model_numbering pdb_numbering(const String& content);

//! The model numbers of the _atom_site rows of parsed mmCIF data numbered
//! from 1 as Model_numbering says, when they give one below 1.
void number_cif_models(mmdb::mmcif::Data& cif);

//! A PDB text with its MODEL records (up to an END record) numbered as
//! numbering, its pdb_numbering, holds them, for one whose numbering
//! renumbers. A number past 9999, which columns 11-14 cannot hold, refuses
//! the file, naming the line and the number given.
String pdb_models_numbered(const String& content, const Model_numbering& numbering,
                           const String& file);

//! Reads a PDB text from memory as the library reads a file holding it; the
//! library's code.
int read_pdb_text(mmdb::Manager& mmdb, const String& content);

//! The atoms a text holds, by model number as the library numbers its
//! models (numbered from 1 where the text gives a number below 1).
//! repeated is a model number whose atoms two separate parts of a PDB text
//! give, as the text gives it, and repeated_line the line of the MODEL
//! record that starts its second part (0 when none). outside is the first
//! record of a PDB text with MODEL records that stands outside every
//! MODEL ... ENDMDL block, as a fault naming its line; empty when none.
struct Model_atoms {
  std::map<int, std::size_t> by_number;
  int repeated = 0;
  int repeated_line = 0;
  String outside;
  void add(const int number) { ++by_number[number]; }
};

//! The atom rows of parsed mmCIF data (numbered by number_cif_models) by
//! model number, as the library groups them: a row whose model number the library cannot read is in
//! the model of the row before it (rows before any number, and all rows of a loop without the
//! column, in model 1). TER rows are no atoms. A lone atom given as tag-value pairs, not as a loop,
//! is read by neither this library nor others, and is not counted.
Model_atoms cif_model_rows(mmdb::mmcif::Data& cif);

//! What an mmCIF atom row gives as its record kind (_atom_site.group_PDB):
//! ATOM, HETATM, or neither (another value, such as TER or "?", or no such
//! column).
enum class Record_kind : char { none, atom, hetatm };

//! The record kind of each _atom_site row of parsed mmCIF data, in row order.
std::vector<Record_kind> cif_record_kinds(mmdb::mmcif::Data& cif);

//! The library's mmCIF reader marks as HETATM every atom of an author chain
//! whose id is the label_asym_id of a non-polymer in _struct_asym (a
//! peptide in author chain C, a manganese labelled C): its own mmCIF
//! output, read again, has residues given as ATOM marked HETATM. Gives each
//! atom the mark its row gives (kinds, the cif_record_kinds of the data
//! read), where the row gives ATOM or HETATM; elsewhere the library's mark
//! stays. The library holds the rows' atoms in row order, a TER row's too;
//! where it holds another number of them (it stopped early, and
//! check_atom_count refuses the file), nothing is set.
void mark_record_kinds(mmdb::Manager& mmdb, const std::vector<Record_kind>& kinds);

//! The atom records of a PDB text by model number, as the library numbers
//! them (numbering, its pdb_numbering, says under which): those before any MODEL record in model 1,
//! those after one in the model its columns 11-14 give (the library refuses the file when they give
//! none), up to an END record (where the library, like other readers, stops). A MODEL record is
//! "MODEL " in columns 1-6, in capitals, as the library takes it. An atom record is ATOM or HETATM
//! in columns 1-6, in any case, and ATOM also with digits in columns 5-6 (a serial number of 6 or 7
//! digits, as some writers give past 99999): readers take all of them for atoms, while the library
//! reads only "ATOM  " and "HETATM". The atoms before the first MODEL record and those after each
//! MODEL record are parts of the text: two parts with atoms of one model number (MODEL 1 twice, or
//! atoms before MODEL 1) the library reads as one model holding both. In a text with a MODEL record
//! an atom record (or an ANISOU, SIGATM or SIGUIJ record) before the first MODEL record or after an
//! ENDMDL record (columns 1-6, in capitals, as the library takes it) and before the next MODEL
//! record belongs to no model: other readers refuse the file, and the library takes the atoms
//! before MODEL for a model 1 of their own (so that one stray atom before MODEL 2 becomes the whole
//! first model) and fails on those after ENDMDL without naming them (a last ANISOU there it drops
//! silently). TER records are no atoms here,
//! and a last block without its ENDMDL runs to the end of the text.
Model_atoms pdb_model_records(const String& content, const Model_numbering& numbering);

//! The library stops reading atoms without a word at some records: in PDB
//! form at any record that is no coordinate record once atoms (or MODEL or
//! TER) have begun, so a file opening with TER or with MODEL before CRYST1
//! reads no atom; in mmCIF form at a row whose residue numbers are "?" and
//! ".", dropping the rows after it. And it would hold two models as one
//! where it numbers them alike. Refuses the file unless each model it holds
//! has as many atoms as the text holds for that number, and each model of
//! the text is held, naming both counts and the model (the lowest number
//! first): "the reader takes <n> of the <m> atoms the text holds for model
//! <k>", or for more "the reader takes <n> atoms into model <k>, where the
//! text holds <m>". A text that gives the atoms of one model number in two
//! parts (Model_atoms::repeated) is refused first, naming the number and
//! the line: readers refuse it, and the library would hold every atom of
//! both parts in one model.
void check_atom_count(mmdb::Manager& mmdb, const String& file, const Model_atoms& in_text);

}  // namespace vantrel::mmdb_internal

#endif
