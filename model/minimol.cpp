#include "model/minimol.h"

namespace vantrel {

const Message_ctor message_ctor_mmodel(" [MModel: constructed]");

namespace {

bool has(const MM::COPY& mode, const MM::COPY bit) { return (mode & bit) != 0; }

template <class T> void insert_at(std::vector<T>& list, const T& item, const int pos) {
  if (pos < 0)
    list.push_back(item);
  else
    list.insert(list.begin() + pos, item);
}

// Index of the first child whose id matches the (already tidied) id.
template <class T>
int lookup_child(const std::vector<T>& list, const String& id, const MM::MODE& mode) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (T::id_match(list[i].id(), id, mode)) return int(i);
  return -1;
}

// The child at index i, as lookup() gave it; fatal with the text when -1.
template <class T> const T& found_child(const std::vector<T>& list, const int i, const char* text) {
  if (i < 0) fatal(text);
  return list[i];
}

// Resizes the children to the source's count, then copies child by child.
template <class T>
void copy_children(std::vector<T>& list, const std::vector<T>& source, const MM::COPY& mode) {
  list.resize(source.size());
  for (std::size_t i = 0; i < list.size(); ++i) list[i].copy(source[i], mode);
}

// Whole ids, or the texts before any ":" (the base ids).
bool base_id_match(const String& id1, const String& id2, const MM::MODE& mode) {
  if (mode == MM::WHOLE_ID) return id1 == id2;
  return id1.compare(0, id1.find(':'), id2, 0, id2.find(':')) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// MAtom

MAtom::MAtom(const Atom& atom) {
  set_element(atom.element());
  set_coord_orth(atom.coord_orth());
  set_occupancy(atom.occupancy());
  set_u_iso(atom.u_iso());
  set_u_aniso_orth(atom.u_aniso_orth());
}

void MAtom::set_id(const String& id) { id_ = id_tidy(id); }

void MAtom::set_name(const String& name, const String& altconf) {
  set_id(altconf.empty() ? name : String(name + ":" + altconf));
}

MAtom& MAtom::copy(const MAtom& other, const MM::COPY& mode) {
  if (has(mode, MM::COPY_MEMBERS)) {
    Atom::operator=(other);
    id_ = other.id_;
  }
  if (has(mode, MM::COPY_PROPERTIES)) PropertyManager::copy(other);
  return *this;
}

String MAtom::id_tidy(const String& id) {
  const std::size_t colon = id.find(':');
  String name = id.substr(0, colon);
  const String suffix = colon == String::npos ? String() : String(id.substr(colon));
  if (name.size() < 4) {
    name += "   ";
    // A name with a lower-case second letter is a two-letter element name
    // written in mixed case ("Se"): it keeps its place and is upper-cased.
    if (name[1] >= 'a' && name[1] <= 'z')
      name[1] = char(name[1] - 'a' + 'A');
    else
      name = " " + name;
    name.resize(4);
  }
  // A longer name (mmCIF allows them) is kept whole: cutting it would make
  // another atom's name, and a writer refuses what its form cannot hold.
  return name + suffix;
}

bool MAtom::id_match(const String& id1, const String& id2, const MM::MODE& mode) {
  return base_id_match(id1, id2, mode);
}

// ---------------------------------------------------------------------------
// MMonomer

void MMonomer::insert(const MAtom& atom, int pos) { insert_at(children, atom, pos); }

int MMonomer::lookup(const String& id, const MM::MODE& mode) const {
  return lookup_child(children, MAtom::id_tidy(id), mode);
}

const MAtom& MMonomer::find(const String& id, MM::MODE mode) const {
  return found_child(children, lookup(id, mode), "MMonomer: no such atom");
}

MAtom& MMonomer::find(const String& id, MM::MODE mode) {
  return const_cast<MAtom&>(static_cast<const MMonomer&>(*this).find(id, mode));
}

void MMonomer::set_id(const String& id) { id_ = id_tidy(id); }

void MMonomer::set_seqnum(int seqnum, const String& inscode) {
  const String number(seqnum, 4);
  set_id(inscode.empty() ? number : String(number + ":" + inscode));
}

Atom_list MMonomer::atom_list() const {
  Atom_list list;
  list.reserve(children.size());
  for (const MAtom& a : children) list.push_back(a);
  return list;
}

void MMonomer::transform(const RTop_orth& op) {
  for (MAtom& a : children) a.transform(op);
}

MMonomer& MMonomer::copy(const MMonomer& other, const MM::COPY& mode) {
  if (&other == this) return *this;
  if (has(mode, MM::COPY_MEMBERS)) {
    id_ = other.id_;
    type_ = other.type_;
  }
  if (has(mode, MM::COPY_PROPERTIES)) PropertyManager::copy(other);
  if (has(mode, MM::COPY_CHILDREN)) copy_children(children, other.children, mode);
  return *this;
}

String MMonomer::id_tidy(const String& id) {
  const std::size_t colon = id.find(':');
  const String number(id.i(), 4);
  return colon == String::npos ? number : String(number + id.substr(colon));
}

// The base id is the sequence number without the insertion code: the text
// before any ":". Cutting at 4 characters instead would let 10001 match
// 10002, as numbers beyond 9999 fill more than the 4-character field.
bool MMonomer::id_match(const String& id1, const String& id2, const MM::MODE& mode) {
  return base_id_match(id1, id2, mode);
}

// ---------------------------------------------------------------------------
// MPolymer

void MPolymer::insert(const MMonomer& monomer, int pos) { insert_at(children, monomer, pos); }

int MPolymer::lookup(const String& id, const MM::MODE& mode) const {
  return lookup_child(children, MMonomer::id_tidy(id), mode);
}

const MMonomer& MPolymer::find(const String& id, MM::MODE mode) const {
  return found_child(children, lookup(id, mode), "MPolymer: no such monomer");
}

MMonomer& MPolymer::find(const String& id, MM::MODE mode) {
  return const_cast<MMonomer&>(static_cast<const MPolymer&>(*this).find(id, mode));
}

Atom_list MPolymer::atom_list() const {
  Atom_list list;
  for (const MMonomer& m : children)
    for (int i = 0; i < m.size(); ++i) list.push_back(m[i]);
  return list;
}

void MPolymer::transform(const RTop_orth& op) {
  for (MMonomer& m : children) m.transform(op);
}

MPolymer& MPolymer::copy(const MPolymer& other, const MM::COPY& mode) {
  if (&other == this) return *this;
  if (has(mode, MM::COPY_MEMBERS)) id_ = other.id_;
  if (has(mode, MM::COPY_PROPERTIES)) PropertyManager::copy(other);
  if (has(mode, MM::COPY_CHILDREN)) copy_children(children, other.children, mode);
  return *this;
}

bool MPolymer::id_match(const String& id1, const String& id2, const MM::MODE&) {
  return id1 == id2;
}

// ---------------------------------------------------------------------------
// MModel

void MModel::insert(const MPolymer& polymer, int pos) { insert_at(children, polymer, pos); }

int MModel::lookup(const String& id, const MM::MODE& mode) const {
  return lookup_child(children, MPolymer::id_tidy(id), mode);
}

const MPolymer& MModel::find(const String& id, MM::MODE mode) const {
  return found_child(children, lookup(id, mode), "MModel: no such polymer");
}

MPolymer& MModel::find(const String& id, MM::MODE mode) {
  return const_cast<MPolymer&>(static_cast<const MModel&>(*this).find(id, mode));
}

Atom_list MModel::atom_list() const {
  Atom_list list;
  for (const MPolymer& p : children)
    for (int j = 0; j < p.size(); ++j)
      for (int i = 0; i < p[j].size(); ++i) list.push_back(p[j][i]);
  return list;
}

void MModel::transform(const RTop_orth& op) {
  for (MPolymer& p : children) p.transform(op);
}

MModel& MModel::copy(const MModel& other, const MM::COPY& mode) {
  if (&other == this) return *this;
  if (has(mode, MM::COPY_PROPERTIES)) PropertyManager::copy(other);
  if (has(mode, MM::COPY_CHILDREN)) copy_children(children, other.children, mode);
  return *this;
}

// ---------------------------------------------------------------------------
// MiniMol

MiniMol::MiniMol() { Message::message(message_ctor_mmodel); }

MiniMol::MiniMol(const Spacegroup& spacegroup, const Cell& cell) {
  init(spacegroup, cell);
  Message::message(message_ctor_mmodel);
}

void MiniMol::init(const Spacegroup& spacegroup, const Cell& cell) {
  spacegroup_ = spacegroup;
  cell_ = cell;
}

}  // namespace vantrel
