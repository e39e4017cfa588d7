// Selection of model sub-trees by text path, and union and intersection of
// two trees matched by child id.
//
// A path holds up to three fields separated by "/": polymers/monomers/atoms
// at model level, monomers/atoms at polymer level, atoms at monomer level.
// Runs of "/" count as one and leading or trailing ones make no field;
// missing fields mean "*" and fields beyond the level's depth are ignored.
// A field is "*" (every child, in order) or a comma list of ids. Each item,
// as written (blanks belong to a padded atom name: "CA  " is calcium, " CA "
// the alpha carbon), is tidied by the child level's id rule and takes, in
// child order, every child whose id matches it under the mode (chain ids always
// whole), so a child matching several items is taken once per item. There
// are no ranges: "12-20" is residue 12. Every taken child is reduced by the
// rest of the path and kept even when that leaves it empty. Nothing here
// fails: an id that matches nothing selects nothing.
#include <string>
#include <unordered_map>
#include <vector>

#include "model/minimol.h"

namespace vantrel {

namespace {

// What a selection or a set operation keeps of the node itself: its members
// (ids, type) and properties, no children.
const MM::COPY members_and_properties = MM::COPY(MM::COPY_MEMBERS | MM::COPY_PROPERTIES);

template <class Node> Node shell_of(const Node& node) {
  Node result;
  result.copy(node, members_and_properties);
  return result;
}

// Calls take(child) for every child of node the field selects, in the order
// of the field's items and then of the children.
template <class Child, class Node, class Take>
void for_selected(const Node& node, const String& field, const MM::MODE mode, Take take) {
  if (field.trim() == "*") {
    for (int i = 0; i < node.size(); ++i) take(node[i]);
    return;
  }
  for (const String& item : field.split(",")) {
    const String id = Child::id_tidy(item);
    for (int i = 0; i < node.size(); ++i)
      if (Child::id_match(node[i].id(), id, mode)) take(node[i]);
  }
}

// The path's fields, padded with "*" up to the level's depth.
std::vector<String> path_fields(const String& path, const std::size_t depth) {
  std::vector<String> fields = path.split("/");
  if (fields.size() < depth) fields.resize(depth, String("*"));
  return fields;
}

MMonomer select_atoms(const MMonomer& monomer, const String& atoms, const MM::MODE mode) {
  MMonomer result = shell_of(monomer);
  for_selected<MAtom>(monomer, atoms, mode, [&](const MAtom& a) { result.insert(a, -1); });
  return result;
}

MPolymer select_monomers(const MPolymer& polymer, const String& monomers, const String& atoms,
                         const MM::MODE mode) {
  MPolymer result = shell_of(polymer);
  for_selected<MMonomer>(polymer, monomers, mode, [&](const MMonomer& m) {
    result.insert(select_atoms(m, atoms, mode), -1);
  });
  return result;
}

// a | b: a's children, then b's children with ids not seen yet; a child whose
// id was seen is merged into the first child of that id.
template <class Node, class Merge> Node unite(const Node& a, const Node& b, Merge merge) {
  Node result = shell_of(a);
  std::unordered_map<std::string, int> index;
  for (const Node* node : {&a, &b}) {
    for (int i = 0; i < node->size(); ++i) {
      const auto seen = index.emplace((*node)[i].id(), result.size());
      if (seen.second)
        result.insert((*node)[i], -1);
      else
        merge(result[seen.first->second], (*node)[i]);
    }
  }
  return result;
}

// a & b: a's children whose id occurs in b, each met with b's first child of
// that id; duplicates within a are all kept.
template <class Node, class Meet> Node intersect(const Node& a, const Node& b, Meet meet) {
  Node result = shell_of(a);
  std::unordered_map<std::string, int> first_in_b;
  for (int j = 0; j < b.size(); ++j) first_in_b.emplace(b[j].id(), j);
  for (int i = 0; i < a.size(); ++i) {
    const auto found = first_in_b.find(a[i].id());
    if (found != first_in_b.end()) result.insert(meet(a[i], b[found->second]), -1);
  }
  return result;
}

}  // namespace

MMonomer MMonomer::select(const String& path, MM::MODE mode) const {
  return select_atoms(*this, path_fields(path, 1)[0], mode);
}

MPolymer MPolymer::select(const String& path, MM::MODE mode) const {
  const std::vector<String> fields = path_fields(path, 2);
  return select_monomers(*this, fields[0], fields[1], mode);
}

MModel MModel::select(const String& path, MM::MODE mode) const {
  const std::vector<String> fields = path_fields(path, 3);
  MModel result = shell_of(*this);
  for_selected<MPolymer>(*this, fields[0], mode, [&](const MPolymer& p) {
    result.insert(select_monomers(p, fields[1], fields[2], mode), -1);
  });
  return result;
}

// Atoms of equal id: the first one stays.
MMonomer operator|(const MMonomer& a, const MMonomer& b) {
  return unite(a, b, [](MAtom&, const MAtom&) {});
}

MPolymer operator|(const MPolymer& a, const MPolymer& b) {
  return unite(a, b, [](MMonomer& kept, const MMonomer& other) { kept = kept | other; });
}

MModel operator|(const MModel& a, const MModel& b) {
  return unite(a, b, [](MPolymer& kept, const MPolymer& other) { kept = kept | other; });
}

MMonomer operator&(const MMonomer& a, const MMonomer& b) {
  return intersect(a, b, [](const MAtom& atom, const MAtom&) { return atom; });
}

MPolymer operator&(const MPolymer& a, const MPolymer& b) {
  return intersect(a, b, [](const MMonomer& x, const MMonomer& y) { return x & y; });
}

MModel operator&(const MModel& a, const MModel& b) {
  return intersect(a, b, [](const MPolymer& x, const MPolymer& y) { return x & y; });
}

}  // namespace vantrel
