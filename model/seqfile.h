// Sequence files: chain sequences in the one-letter layout, where a line
// beginning with ">" opens a record and names it and the letters of the
// following lines make up its sequence.
#ifndef VANTREL_MODEL_SEQFILE_H
#define VANTREL_MODEL_SEQFILE_H

#include "foundation/vstring.h"
#include "model/sequence.h"

namespace vantrel {

//! The text of a sequence file and its records.
/*! Reading keeps the file's bytes unchanged; the imports parse the text
  each time and never change it. Parsing, line by line after trimming white
  space; a carriage return, a newline or both end a line: ">id" starts a record named by the
  trimmed rest of the line; a line beginning with a letter adds its letters,
  upper-cased, to the current record (digits, blanks, "*", "-" and other
  characters are dropped); any other line (beginning with a digit, ";" and
  so on) is ignored whole. A record without letters is not kept, and letters
  before the first header make a record with an empty id. */
class SEQfile {
 public:
  //! Replaces the text by the whole content of the file. A path that is not
  //! a readable regular file is the fatal "SEQfile: read_file error: cannot
  //! read <file>: <reason>"; a file that cannot be read is "SEQfile:
  //! read_file error: <file>". Either leaves the text empty.
  void read_file(const String& file);
  //! Appends one record per sequence of the text to seqs, in file order,
  //! after what seqs already holds.
  void import_molecule_sequence(MMoleculeSequence& seqs) const;
  //! Sets seq's id and sequence to those of the first record; a text
  //! without records leaves seq unchanged.
  void import_polymer_sequence(MPolymerSequence& seq) const;

 private:
  String text_;
};

}  // namespace vantrel

#endif
