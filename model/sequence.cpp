#include "model/sequence.h"

#include "foundation/message.h"

namespace vantrel {

void MMoleculeSequence::insert(const MPolymerSequence& seq, int pos) {
  if (pos < 0)
    children.push_back(seq);
  else
    children.insert(children.begin() + pos, seq);
}

int MMoleculeSequence::lookup(const String& id, const MM::MODE&) const {
  for (std::size_t i = 0; i < children.size(); ++i)
    if (children[i].id() == id) return int(i);
  return -1;
}

const MPolymerSequence& MMoleculeSequence::find(const String& id, MM::MODE mode) const {
  const int i = lookup(id, mode);
  // The text names a monomer although a chain record is missing; callers
  // and logs know it by this text.
  if (i < 0) fatal("MMolecule: no such monomer");
  return children[i];
}

MPolymerSequence& MMoleculeSequence::find(const String& id, MM::MODE mode) {
  return const_cast<MPolymerSequence&>(static_cast<const MMoleculeSequence&>(*this).find(id, mode));
}

}  // namespace vantrel
