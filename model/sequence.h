// Chain sequences: a chain's id with its one-letter sequence, and the ordered
// list of them for a molecule, kept apart from the coordinate model.
#ifndef VANTREL_MODEL_SEQUENCE_H
#define VANTREL_MODEL_SEQUENCE_H

#include <vector>

#include "foundation/vstring.h"
#include "model/minimol.h"

namespace vantrel {

//! One chain's id and sequence text (one letter per residue), both stored
//! unchanged and unchecked.
class MPolymerSequence {
 public:
  const String& id() const { return id_; }
  const String& sequence() const { return seq_; }
  void set_id(const String& id) { id_ = id; }
  void set_sequence(const String& seq) { seq_ = seq; }

 private:
  String id_;
  String seq_;
};

//! An ordered list of chain sequences.
class MMoleculeSequence {
 public:
  int size() const { return int(children.size()); }
  //! The i-th record; 0 <= i < size() is the caller's duty.
  const MPolymerSequence& operator[](const int& i) const { return children[i]; }
  MPolymerSequence& operator[](const int& i) { return children[i]; }
  //! Inserts a copy before index pos (0 <= pos <= size()); pos < 0 appends.
  void insert(const MPolymerSequence& seq, int pos);
  //! Index of the first record whose id equals id as a whole string (the
  //! mode is ignored and the id not tidied); -1 when none.
  int lookup(const String& id, const MM::MODE& mode) const;
  //! The record lookup() finds; fatal "MMolecule: no such monomer" when none.
  const MPolymerSequence& find(const String& id, MM::MODE mode) const;
  MPolymerSequence& find(const String& id, MM::MODE mode);

 private:
  std::vector<MPolymerSequence> children;
};

}  // namespace vantrel

#endif
