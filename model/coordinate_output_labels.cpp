#include "model/coordinate_output_labels.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <numeric>
#include <set>
#include <string_view>
#include <vector>

#include "foundation/vec_mat.h"
#include "model/coordinate_output_ids.h"
#include "model/mmdb_hierarchy.h"
#include "system/gzip_name.h"

namespace vantrel::mmdb_internal {

namespace {

// The residues of polymers that the PDB writes as ATOM records, as gemmi
// tabulates them standard: the amino acids with UNK, SEC, PYL, ASX and GLX,
// and the nucleotides of RNA and DNA. The library's own tables hold more
// (CYH, +A, 5NC), which are no standard residues.
enum class Residue_kind { other, l_amino_acid, d_amino_acid, amino_acid, rna, dna };
Residue_kind standard_kind(const String& name) {
  static const char* const amino_acids[] = {
      "ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU", "LYS", "MET",
      "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL", "UNK", "SEC", "PYL", "ASX", "GLX"};
  static const char* const rna[] = {"A", "C", "G", "U", "I"};
  static const char* const dna[] = {"DA", "DC", "DG", "DT", "DI", "DU"};
  const auto in = [&](const auto& names) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
  };
  return in(amino_acids) ? Residue_kind::l_amino_acid
         : in(rna)       ? Residue_kind::rna
         : in(dna)       ? Residue_kind::dna
                         : Residue_kind::other;
}

bool is_standard_residue(const String& name) { return standard_kind(name) != Residue_kind::other; }

// Water as readers name it (gemmi's is_water). The library's solvent list
// also holds ligands (ADE, URA, MOH ...), which are no water.
bool is_water(const String& name) {
  return name == "HOH" || name == "WAT" || name == "DOD" || name == "H2O";
}

// The bonds that carry a chain's polymer from one residue to the next: a
// carbon bonded to the next residue's nitrogen (the peptide bond C-N), a
// nucleotide's O3' (O3* in older files) to the next one's phosphorus (never
// another oxygen: phosphates of sugars and lipids are no nucleic acid).
// Each end of a residue is the atom a standard residue uses there; only a
// residue without an atom of that name (a chromophore, a linker) offers
// every other nitrogen, phosphorus or carbon there, wherever it lists
// them (a chromophore's C3 after its CA1), so a sugar on a modified
// asparagine's ND2 is no part of the chain. Hydrogens and metals never are.
// A bond is taken within 1.5 times its length (1.33 and 1.61 A): a
// stretched bond of a poor model stays under that, and atoms that are not
// bonded come no nearer than about 2.6 A.
struct Bond_end {
  char element;
  const char* names[2];  // a standard residue's
  bool any;              // whether a residue without an atom of those names offers any other
};
// A carbon bonded to a nitrogen, an O3' to a phosphorus, and the longest
// bond of each.
const Bond_end bond_ends[] = {{'C', {"C", "C"}, true},
                              {'N', {"N", "N"}, true},
                              {'O', {"O3'", "O3*"}, false},
                              {'P', {"P", "P"}, true}};
const double longest_bond[] = {1.5 * 1.33, 1.5 * 1.61};

// True when the atom record is an atom with a position (a TER record has
// its coordinate bit set too).
bool placed(const mmdb::Atom* atom) {
  return atom && !atom->Ter && (atom->WhatIsSet & mmdb::ASET_Coordinates);
}

// A fixed text field without the blanks around it, and no copy.
std::string_view trimmed(const char* field) {
  const std::string_view text(field);
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The element of an atom as its one capital letter, 0 for an element of two
// letters: from its element field, or where that is blank (old PDB files)
// the first letter of its name.
char element_letter(const mmdb::Atom* atom) {
  std::string_view element = trimmed(atom->element);
  if (element.empty()) {
    const std::string_view name = trimmed(atom->name);
    const auto letter = std::find_if(name.begin(), name.end(), [](const char c) {
      return std::isalpha(static_cast<unsigned char>(c)) != 0;
    });
    element = letter == name.end() ? std::string_view() : std::string_view(&*letter, 1);
  }
  return element.size() == 1 ? char(std::toupper(static_cast<unsigned char>(element[0]))) : 0;
}

// The atoms of a residue at which it can be bonded into a chain, each with
// its end (the place in bond_ends: even at the residue's end, odd at its
// start).
std::vector<std::pair<const mmdb::Atom*, int>> bond_ends_of(mmdb::Residue* residue) {
  const bool standard = is_standard_residue(residue->name);
  std::vector<std::pair<const mmdb::Atom*, int>> named, other;
  for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
    const mmdb::Atom* atom = residue->GetAtom(a);
    if (!placed(atom) || !std::isfinite(atom->x + atom->y + atom->z)) continue;
    const std::string_view name = trimmed(atom->name);
    const char element = element_letter(atom);
    for (int e = 0; e < int(std::size(bond_ends)); ++e)
      if (element == bond_ends[e].element) {
        if (name == bond_ends[e].names[0] || name == bond_ends[e].names[1])
          named.emplace_back(atom, e);
        else if (bond_ends[e].any && !standard)
          other.emplace_back(atom, e);
      }
  }
  const std::size_t by_name = named.size();
  for (const auto& [atom, e] : other)
    if (std::none_of(named.begin(), named.begin() + by_name,
                     [e = e](const auto& n) { return n.second == e; }))
      named.emplace_back(atom, e);
  return named;
}

// The backbone bonds that residues of a chain could make: next[r] holds
// the residues whose start an end of residue r bonds, and previous[r]
// those bonded the other way, each list ascending. Residues that overlap
// are bonded neither way: two bonded each way (an overlap of two sugars,
// each one's C by the other's N), and two with atoms at one place
// (overlapping).
struct Links {
  std::vector<std::vector<int>> next, previous;
};
// True when the ascending list holds r.
bool holds(const std::vector<int>& residues, const int r) {
  return std::binary_search(residues.begin(), residues.end(), r);
}

// True when the residues are laid over one another (templates superimposed,
// a residue given twice): two of their atoms that can be present together
// (of one alternate location, or either of none) lie at one place. Atoms
// of different alternate locations may share a place, and come nearer in
// real files than others do (1.05 A against 2.2 A at a split backbone).
bool overlapping(mmdb::Residue* a, mmdb::Residue* b) {
  // Residues laid over one another put atoms 0.0 A apart, give or take the
  // 0.001 A a file's coordinates are rounded to; such atoms of two residues
  // bonded in real files, hydrogens and the bond's own included, come no
  // nearer than 0.7 A (a structure averaged over a simulation, its bonds
  // shrunk), 0.9 A in others.
  const double apart = 0.1;
  for (int i = 0; i < a->GetNumberOfAtoms(); ++i) {
    const mmdb::Atom* p = a->GetAtom(i);
    if (!placed(p)) continue;
    const std::string_view p_alt = trimmed(p->altLoc);
    for (int j = 0; j < b->GetNumberOfAtoms(); ++j) {
      const mmdb::Atom* q = b->GetAtom(j);
      if (!placed(q)) continue;
      const std::string_view q_alt = trimmed(q->altLoc);
      const double dx = p->x - q->x, dy = p->y - q->y, dz = p->z - q->z;
      if ((p_alt.empty() || q_alt.empty() || p_alt == q_alt) &&
          dx * dx + dy * dy + dz * dz < apart * apart)
        return true;
    }
  }
  return false;
}

// A box along the axes, empty until it holds a point.
struct Box {
  double low[3] = {INFINITY, INFINITY, INFINITY}, high[3] = {-INFINITY, -INFINITY, -INFINITY};
  void add(const Box& box) {
    for (int a = 0; a < 3; ++a) {
      low[a] = std::min(low[a], box.low[a]);
      high[a] = std::max(high[a], box.high[a]);
    }
  }
  void add(const Vec3<>& p) { add(Box{{p[0], p[1], p[2]}, {p[0], p[1], p[2]}}); }
  bool empty() const { return low[0] > high[0]; }
  // The squared distances from p to the box's nearest and farthest points
  // (infinite for an empty box).
  double nearest(const Vec3<>& p) const {
    double sum = 0;
    for (int a = 0; a < 3; ++a) {
      const double d = std::max({low[a] - p[a], p[a] - high[a], 0.0});
      sum += d * d;
    }
    return sum;
  }
  double farthest(const Vec3<>& p) const {
    double sum = 0;
    for (int a = 0; a < 3; ++a) {
      const double d = std::max(p[a] - low[a], high[a] - p[a]);
      sum += d * d;
    }
    return sum;
  }
};

// The atoms at which the residues marked in can be bonded into a chain
// (bond_ends_of), residue by residue.
struct Bond_atoms {
  struct Atom {
    Vec3<> at;
    int residue, end;  // end: the place in bond_ends
  };
  std::vector<Atom> atoms;
  std::vector<int> first;  // residue r's atoms are atoms[first[r]] to atoms[first[r + 1] - 1]

  Bond_atoms(const std::vector<mmdb::Residue*>& residues, const std::vector<bool>& in)
      : first(residues.size() + 1) {
    for (std::size_t r = 0; r < residues.size(); ++r) {
      first[r] = int(atoms.size());
      if (in[r])
        for (const auto& [atom, end] : bond_ends_of(residues[r]))
          atoms.push_back({Vec3<>(atom->x, atom->y, atom->z), int(r), end});
    }
    first.back() = int(atoms.size());
  }
  // True when the atoms are a bond's end and start (a C and an N, an O3'
  // and a P) within its length.
  static bool bonded(const Atom& end, const Atom& start) {
    const double longest = longest_bond[end.end / 2];
    return end.end % 2 == 0 && start.end == end.end + 1 &&
           Vec3<>::dot(end.at - start.at, end.at - start.at) <= longest * longest;
  }
  // True when an end of residue s bonds the start of residue r.
  bool bonds(const int s, const int r) const {
    for (int i = first[s]; i < first[s + 1]; ++i)
      for (int j = first[r]; j < first[r + 1]; ++j)
        if (bonded(atoms[i], atoms[j])) return true;
    return false;
  }
};

// The atoms of one kind of residue start (N, or P) in a tree of boxes,
// each box halved across its widest side, so that a search for those
// within a bond of an end's atom looks at about the logarithm of their
// number. Each box knows the box of its residues' ends of that bond (C,
// or O3') where every one of them has one: when those all lie within a
// bond of the searching residue's start, each residue there bonds it each
// way, and so neither way, and the search skips the whole box. A crowd of
// residues (unplaced atoms all put at one point) then costs what its
// bonds cost, not the square of its residues.
class Start_tree {
 public:
  Start_tree(const Bond_atoms& atoms, const int start) : atoms_(atoms), start_(start) {
    const int n = int(atoms.first.size()) - 1;
    ends_.resize(n);
    for (const Bond_atoms::Atom& atom : atoms.atoms)
      if (atom.end == start - 1) ends_[atom.residue].add(atom.at);
    for (int i = 0; i < int(atoms.atoms.size()); ++i)
      if (atoms.atoms[i].end == start) order_.push_back(i);
    build(0, int(order_.size()));
  }

  // Adds to next the residues other than from's whose start atoms of this
  // kind from (an end of its residue) bonds, where no end of theirs bonds
  // a start of from's residue.
  void search(const Bond_atoms::Atom& from, std::vector<int>& next) const { search(0, from, next); }

 private:
  struct Node {
    Box at, ends;      // its atoms; its residues' ends of this bond
    bool every_end;    // whether each of its residues has such an end
    int begin, count;  // its atoms: order_[begin] on
    int halves[2];     // the nodes of its two halves; -1 for a leaf
  };

  int build(const int begin, const int count) {
    Node node{{}, {}, true, begin, count, {-1, -1}};
    for (int i = begin; i < begin + count; ++i) {
      const Bond_atoms::Atom& atom = atoms_.atoms[order_[i]];
      node.at.add(atom.at);
      node.ends.add(ends_[atom.residue]);
      node.every_end = node.every_end && !ends_[atom.residue].empty();
    }
    const int made = int(nodes_.size());
    nodes_.push_back(node);
    if (count <= 8) return made;
    int axis = 0;
    for (int a = 1; a < 3; ++a)
      if (node.at.high[a] - node.at.low[a] > node.at.high[axis] - node.at.low[axis]) axis = a;
    const auto first = order_.begin() + begin;
    std::nth_element(first, first + count / 2, first + count, [&](const int i, const int j) {
      return atoms_.atoms[i].at[axis] < atoms_.atoms[j].at[axis];
    });
    const int low = build(begin, count / 2), high = build(begin + count / 2, count - count / 2);
    nodes_[made].halves[0] = low;
    nodes_[made].halves[1] = high;
    return made;
  }

  void search(const int n, const Bond_atoms::Atom& from, std::vector<int>& next) const {
    const Node& node = nodes_[n];
    const double longest = longest_bond[from.end / 2], reach = longest * longest;
    if (node.at.nearest(from.at) > reach) return;
    if (node.every_end)
      for (int i = atoms_.first[from.residue]; i < atoms_.first[from.residue + 1]; ++i)
        if (atoms_.atoms[i].end == start_ && node.ends.farthest(atoms_.atoms[i].at) <= reach)
          return;
    if (node.halves[0] < 0) {
      for (int i = node.begin; i < node.begin + node.count; ++i) {
        const Bond_atoms::Atom& to = atoms_.atoms[order_[i]];
        if (to.residue != from.residue && Bond_atoms::bonded(from, to) &&
            !atoms_.bonds(to.residue, from.residue))
          next.push_back(to.residue);
      }
      return;
    }
    for (const int half : node.halves) search(half, from, next);
  }

  const Bond_atoms& atoms_;
  const int start_;          // the place in bond_ends of the starts held
  std::vector<Box> ends_;    // by residue: its ends that bond such starts
  std::vector<int> order_;   // the starts held, as places in atoms_, in node order
  std::vector<Node> nodes_;  // the first the whole
};

// The backbone bonds between the residues of a chain marked in, wherever
// the file puts them, each end's atom searching the starts' tree of its
// bond (Start_tree).
Links backbone_links(const std::vector<mmdb::Residue*>& residues, const std::vector<bool>& in) {
  const Bond_atoms atoms(residues, in);
  Links links{std::vector<std::vector<int>>(residues.size()),
              std::vector<std::vector<int>>(residues.size())};
  for (const int start : {1, 3}) {  // N, then P
    const Start_tree tree(atoms, start);
    for (const Bond_atoms::Atom& atom : atoms.atoms)
      if (atom.end == start - 1) tree.search(atom, links.next[atom.residue]);
  }
  for (int r = 0; r < int(residues.size()); ++r) {
    std::vector<int>& next = links.next[r];
    std::sort(next.begin(), next.end());
    next.erase(std::unique(next.begin(), next.end()), next.end());
    next.erase(std::remove_if(next.begin(), next.end(),
                              [&](const int s) { return overlapping(residues[r], residues[s]); }),
               next.end());
    for (const int s : next) links.previous[s].push_back(r);
  }
  return links;
}

// The D-amino acids of the chiral standard ones, by their names in files
// from the PDB.
bool is_d_amino_acid(const String& name) {
  static const char* const names[] = {"DAL", "DAR", "DSG", "DAS", "DCY", "DGN", "DGL",
                                      "DHI", "DIL", "DLE", "DLY", "MED", "DPN", "DPR",
                                      "DSN", "DTH", "DTR", "DTY", "DVA"};
  return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// The kind of polymer a residue makes: a standard residue's by its name (L
// for an amino acid), as is a D-amino acid's; another's by its atoms, as
// a selenomethionine or a phosphoserine is one whatever its name: an amino
// acid where its N-CA and CA-C are bonded (within 1.9 A, 1.46 and 1.52 A
// long; atoms two bonds apart are 2.4 A apart, as a folate's C, bonded to
// its N, is from its CA), of L or D form by the hand its CA's bonds to N,
// C and CB make (none without CB); else a nucleotide where a P or an O3'
// goes with a sugar's C1' and C4', RNA with an O2'.
Residue_kind residue_kind(mmdb::Residue* residue) {
  if (is_standard_residue(residue->name)) return standard_kind(residue->name);
  if (is_d_amino_acid(residue->name)) return Residue_kind::d_amino_acid;
  std::map<String, mmdb::Atom*> atoms;
  for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
    mmdb::Atom* atom = residue->GetAtom(a);
    if (placed(atom)) atoms.emplace(String(atom->name).trim(), atom);
  }
  const auto has = [&](const char* name) { return atoms.count(name) > 0; };
  const auto from_ca = [&](const char* name) {
    const mmdb::Atom *atom = atoms[name], *ca = atoms["CA"];
    return Vec3<>(atom->x - ca->x, atom->y - ca->y, atom->z - ca->z);
  };
  if (has("N") && has("CA") && has("C") && Vec3<>::dot(from_ca("N"), from_ca("N")) <= 1.9 * 1.9 &&
      Vec3<>::dot(from_ca("C"), from_ca("C")) <= 1.9 * 1.9) {
    if (!has("CB")) return Residue_kind::amino_acid;
    // (N - CA) . ((C - CA) x (CB - CA)) is positive at an L-amino acid's CA.
    const double volume = Vec3<>::dot(from_ca("N"), Vec3<>::cross(from_ca("C"), from_ca("CB")));
    return volume > 0 ? Residue_kind::l_amino_acid : Residue_kind::d_amino_acid;
  }
  if ((has("P") || has("O3'") || has("O3*")) &&
      ((has("C1'") && has("C4'")) || (has("C1*") && has("C4*"))))
    return has("O2'") || has("O2*") ? Residue_kind::rna : Residue_kind::dna;
  return Residue_kind::other;
}

// What a residue is in a written file: a residue of its chain's polymer, a
// ligand (any other residue) or water.
enum class Part { none, polymer, ligand, water };

// True when every atom of the residue is a HETATM record; set for a TER
// record (the library keeps one in the residue before it).
bool all_het(mmdb::Residue* residue, bool& holds_ter) {
  int atoms = 0, het = 0;
  for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
    if (mmdb::Atom* atom = residue->GetAtom(a)) {
      holds_ter = holds_ter || atom->Ter;
      atoms += !atom->Ter;
      het += !atom->Ter && atom->Het;
    }
  return atoms > 0 && het == atoms;
}

// A chain's polymers as chain_parts finds them: the residues each one's
// start and end are bonded to (-1 for none), by table position.
struct Chain_bonds {
  std::vector<int> before, after;
  explicit Chain_bonds(const int n) : before(n, -1), after(n, -1) {}
  // Bonds a's end to b's start where both are free.
  bool bond(const int a, const int b) {
    if (a == b || after[a] >= 0 || before[b] >= 0) return false;
    after[a] = b;
    before[b] = a;
    return true;
  }
};

// True when residue b is numbered after a: a higher number, or the same
// number with another insertion code (taken in file order: insertion codes
// also run backwards, as 1C, 1B, 1A, 1 before a chain's residue 2).
bool numbered_after(const mmdb::Residue* a, const mmdb::Residue* b) {
  return b->seqNum > a->seqNum ||
         (b->seqNum == a->seqNum && std::strcmp(a->insCode, b->insCode) != 0);
}

// True when residue b is numbered right after a: 52, 52A, 53.
bool numbered_next(const mmdb::Residue* a, const mmdb::Residue* b) {
  return (long long)b->seqNum == a->seqNum + 1LL ||
         (b->seqNum == a->seqNum && std::strcmp(a->insCode, b->insCode) != 0);
}

// The atom that carries a residue's chain: an amino acid's CA, else a
// nucleotide's C4' (C4* in older files); none without either.
const mmdb::Atom* carrier(mmdb::Residue* residue) {
  const mmdb::Atom* found = nullptr;
  for (int i = 0; i < residue->GetNumberOfAtoms(); ++i) {
    const mmdb::Atom* atom = residue->GetAtom(i);
    const std::string_view name = placed(atom) ? trimmed(atom->name) : std::string_view();
    if (name == "CA") return atom;
    if (!found && (name == "C4'" || name == "C4*")) found = atom;
  }
  return found;
}

// True when residue b, bonded to nothing, could be the residue numbered
// where it is in a chain with a: their carriers lie within a step for each
// number between them, and 1 A. A step is 3.8 A between amino acids (kind
// 1: CA to CA across a trans peptide bond, the longest), 7.5 A between
// nucleotides (C4' to C4', about 7.2 A at the longest in real files).
bool within_reach(mmdb::Residue* a, mmdb::Residue* b, const int kind) {
  const mmdb::Atom *from = carrier(a), *to = carrier(b);
  if (!from || !to) return false;
  const double steps = std::max(1.0, std::abs(double(b->seqNum) - a->seqNum));
  const double reach = (kind == 1 ? 3.8 : 7.5) * steps + 1.0;
  const Vec3<> d(from->x - to->x, from->y - to->y, from->z - to->z);
  return Vec3<>::dot(d, d) <= reach * reach;
}

// The table positions of a chain's polymer residues in the order they are
// written: each bonded stretch whole, from its first residue (a cyclic
// one from the residue of it given first), the stretches in the order
// their first residues of the runs (run, -1 for none) are given, so that a
// residue bonded to two others is written between them wherever the file
// gives it; polymer_of is 1 for each place in a polymer of its own, 0 for
// the rest: where the chain holds both kinds (kinds: DNA after a protein),
// the bonded stretches of the kind it gives second, and those of neither
// kind after them.
std::vector<int> written_order(const std::vector<bool>& polymer, const std::vector<int>& run,
                               const std::vector<int>& kinds, const Chain_bonds& bonds,
                               std::vector<int>& polymer_of) {
  const int n = int(polymer.size());
  std::vector<int> order;
  std::vector<bool> written(n, false);
  for (int r = 0; r < n; ++r) {
    if (!polymer[r] || run[r] < 0 || written[r]) continue;
    int start = r, p = bonds.before[r];
    for (; p >= 0 && p != r; p = bonds.before[p]) start = p;
    if (p == r) start = r;  // a cycle
    for (int s = start; s >= 0 && !written[s]; s = bonds.after[s]) {
      written[s] = true;
      order.push_back(s);
    }
  }
  std::vector<int> first, second;
  int first_kind = 0;
  bool in_second = false;
  for (std::size_t i = 0, j; i < order.size(); i = j) {
    int count[3] = {};
    for (j = i; j < order.size() && (j == i || bonds.after[order[j - 1]] == order[j]); ++j)
      ++count[kinds[order[j]]];
    const int kind = count[1] == count[2] ? 0 : count[1] > count[2] ? 1 : 2;
    if (first_kind == 0) first_kind = kind;
    if (kind != 0) in_second = kind != first_kind;
    std::vector<int>& to = in_second ? second : first;
    to.insert(to.end(), order.begin() + i, order.begin() + j);
  }
  polymer_of.assign(first.size(), 0);
  polymer_of.resize(first.size() + second.size(), 1);
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The parts of a chain's residues (none where the chain holds no residue),
// with order set to the order they are written in: its polymers
// (written_order), then its other residues in their order; continues for
// each place whether its residue continues the backbone of the one written
// before it; holds_ter for the residues that hold a TER record.
//
// A written polymer is a chain: each residue is bonded (backbone_links) to
// at most one residue before it and one after it. Bonds and numbers decide
// what is in it and in which order; the file's order only which runs it
// gives.
// - Its runs: what the file gives as the polymer (run_end): the residues
//   before its first TER record, or of its polymer's label_asym_id, without
//   either from its first to its last standard residue of the chain's kind
//   given as ATOM (all, without such a residue); elsewhere (after TER, of
//   the other kind) each group of two or more standard residues given as
//   ATOM bonded together. The chain's kind is that of most standard
//   residues given as ATOM in its run.
// - In a run, a residue is bonded to the one that follows it where it can
//   be, then to others where both ends are free (across a gap, a cyclic
//   peptide): of two bonds on one side (a clash, a chromophore given as
//   three residues), the one to the residue that follows wins.
// - A residue of a run is polymer when bonded, or when a standard residue
//   given as ATOM (a cavity finder's residue lists). Another of its run's
//   kind, bonded to nothing, is polymer where it continues the polymer
//   residues of that kind around it in the run, by number and within reach
//   (within_reach): after the last, before the first, or between two not
//   bonded to each other (a selenomethionine first, before a missing
//   residue); any other (a metal, a folate, an inhibitor numbered 1 after
//   residue 155, a free amino acid between two bonded residues) is a
//   ligand.
// - A residue outside the runs joins the polymer at a free end it is bonded
//   to (a cap, a residue given after TER or at the chain's end, a modified
//   residue next to a run found elsewhere); a bond to an end already
//   joined is a branch, and the residue on it stays a ligand, as any other
//   does.
// - Each bonded stretch is written whole (written_order).
std::vector<Part> chain_parts(mmdb::Chain* chain, const bool read_labels,
                              std::vector<bool>& holds_ter, std::vector<int>& order,
                              std::vector<bool>& continues, std::vector<int>& polymer_of) {
  const int n = chain->GetNumberOfResidues();
  std::vector<mmdb::Residue*> residues(n);
  std::vector<Part> parts(n, Part::none);
  std::vector<int> kinds(n, 0), chain_order;       // chain_order: the residues that are no water
  std::vector<bool> atom(n, false), in(n, false);  // atom: a standard residue given as ATOM
  holds_ter.assign(n, false);
  for (int r = 0; r < n; ++r) {
    residues[r] = chain->GetResidue(r);
    if (!residues[r]) continue;
    parts[r] = is_water(residues[r]->name) ? Part::water : Part::ligand;
    bool held = false;
    atom[r] = !all_het(residues[r], held) && is_standard_residue(residues[r]->name);
    holds_ter[r] = held;
    in[r] = parts[r] == Part::ligand;
    if (!in[r]) continue;
    chain_order.push_back(r);
    const Residue_kind kind = residue_kind(residues[r]);  // 1 amino acid, 2 nucleotide, 0 neither
    kinds[r] = kind == Residue_kind::other ? 0 : kind >= Residue_kind::rna ? 2 : 1;
  }
  const Links links = backbone_links(residues, in);
  const int end = run_end(chain, read_labels);
  int count[3] = {}, first = n, last = -1;
  for (const int r : chain_order)
    if (atom[r] && (end < 0 || r <= end)) ++count[kinds[r]];
  const int kind = count[1] + count[2] == 0 ? 0 : count[1] >= count[2] ? 1 : 2;
  for (const int r : chain_order)
    if (atom[r] && kinds[r] == kind) first = std::min(first, r), last = r;
  std::vector<int> run(n, -1), run_kinds{kind};
  for (const int r : chain_order)
    if (kind == 0 || (end >= 0 ? r <= end : r >= first && r <= last)) run[r] = 0;
  // Elsewhere, each group of two or more standard residues given as ATOM
  // bonded together, a run of the kind of its first.
  const auto free_atom = [&](const int r) { return run[r] < 0 && atom[r]; };
  for (const int r : chain_order) {
    if (!free_atom(r)) continue;
    std::vector<int> group{r};
    run[r] = int(run_kinds.size());
    for (std::size_t i = 0; i < group.size(); ++i)
      for (const auto* linked : {&links.next[group[i]], &links.previous[group[i]]})
        for (const int s : *linked)
          if (free_atom(s)) {
            run[s] = run[r];
            group.push_back(s);
          }
    if (group.size() == 1)
      run[r] = -1;
    else
      run_kinds.push_back(kinds[r]);
  }
  Chain_bonds bonds(n);
  std::vector<int> last_of(run_kinds.size(), -1);
  for (const int r : chain_order)
    if (run[r] >= 0) {
      int& before = last_of[run[r]];
      if (before >= 0 && holds(links.next[before], r)) bonds.bond(before, r);
      before = r;
    }
  for (const int r : chain_order)
    for (const int s : links.next[r])
      if (run[r] >= 0 && run[s] >= 0) bonds.bond(r, s);
  std::vector<bool> polymer(n, false);
  std::vector<std::vector<int>> of_kind(run_kinds.size());  // each run's residues of its kind
  for (const int r : chain_order) {
    polymer[r] = run[r] >= 0 && (bonds.before[r] >= 0 || bonds.after[r] >= 0 || atom[r]);
    if (run[r] >= 0 && kinds[r] != 0 && kinds[r] == run_kinds[run[r]]) of_kind[run[r]].push_back(r);
  }
  // The others of a run's kind, bonded to nothing, where their numbers and
  // places continue the polymer residues of that kind around them in the
  // run: after the last, before the first, or between two not bonded to
  // each other.
  for (std::size_t k = 0; k < of_kind.size(); ++k) {
    std::vector<int> around;  // the polymer residues of the run's kind
    for (const int r : of_kind[k])
      if (polymer[r]) around.push_back(r);
    for (const int r : of_kind[k]) {
      if (polymer[r]) continue;
      const auto above = std::upper_bound(around.begin(), around.end(), r);
      const int before = above == around.begin() ? -1 : *std::prev(above),
                after = above == around.end() ? -1 : *above;
      const auto reaches = [&](const int from, const int to) {
        return numbered_after(residues[from], residues[to]) &&
               within_reach(residues[from], residues[to], run_kinds[k]);
      };
      polymer[r] = (before >= 0 || after >= 0) && (before < 0 || reaches(before, r)) &&
                   (after < 0 || reaches(r, after)) &&
                   (before < 0 || after < 0 ||
                    (bonds.after[before] != after && bonds.after[after] != before));
    }
  }
  std::vector<int> next;
  for (const int r : chain_order)
    if (polymer[r]) next.push_back(r);
  while (!next.empty()) {
    const int p = next.back();
    next.pop_back();
    for (const bool after : {true, false})
      for (const int s : after ? links.next[p] : links.previous[p])
        if ((after ? bonds.bond(p, s) : bonds.bond(s, p)) && !polymer[s]) {
          polymer[s] = true;
          next.push_back(s);
        }
  }
  for (int r = 0; r < n; ++r)
    if (polymer[r]) parts[r] = Part::polymer;
  order = written_order(polymer, run, kinds, bonds, polymer_of);
  continues.assign(n, false);
  for (std::size_t i = 1; i < order.size(); ++i)
    continues[i] = bonds.after[order[i - 1]] == order[i];
  for (int r = 0; r < n; ++r)
    if (!polymer[r]) order.push_back(r);
  polymer_of.resize(n, -1);
  return parts;
}

// The residue table of a library chain, which the library keeps from its
// users.
struct Chain_residues : mmdb::Chain {
  static mmdb::PPResidue& of(mmdb::Chain& chain) { return chain.*(&Chain_residues::residue); }
};

// Puts the chain's residues in order (table positions, from chain_parts),
// as files from the PDB hold them: readers take the residues before a
// chain's TER record for its polymer (gemmi), and mmCIF rows of one
// label_asym_id for one run. parts and holds_ter follow their residues.
// True when the order changed.
bool polymer_first(mmdb::Chain* chain, const std::vector<int>& order, std::vector<Part>& parts,
                   std::vector<bool>& holds_ter) {
  if (std::is_sorted(order.begin(), order.end())) return false;
  mmdb::PPResidue table = Chain_residues::of(*chain);
  const std::vector<mmdb::Residue*> residues(table, table + parts.size());
  const std::vector<Part> had = parts;
  const std::vector<bool> held = holds_ter;
  for (std::size_t i = 0; i < order.size(); ++i) {
    table[i] = residues[order[i]];
    if (table[i]) table[i]->index = int(i);
    parts[i] = had[order[i]];
    holds_ter[i] = held[order[i]];
  }
  return true;
}

// Has the chain's one TER record follow its polymer's last residue (the
// last one of the polymer after polymer_first), and drops any other:
// readers (gemmi) take every residue before a chain's TER record for its
// polymer, ligands too, and without one each residue of the polymer for a
// molecule of its own. Only the residues marked in holds_ter are looked
// through. True when a record was added or dropped.
bool place_ter(mmdb::Chain* chain, const std::vector<Part>& parts,
               const std::vector<bool>& holds_ter) {
  int last = -1;
  for (int r = 0; r < int(parts.size()); ++r)
    if (parts[r] == Part::polymer) last = r;
  bool kept = false, edited = false;
  for (int r = 0; r < int(parts.size()); ++r) {
    mmdb::Residue* residue = holds_ter[r] ? chain->GetResidue(r) : nullptr;
    for (int a = 0; residue && a < residue->GetNumberOfAtoms(); ++a) {
      mmdb::Atom* atom = residue->GetAtom(a);
      if (!atom || !atom->Ter) continue;
      bool at_end = true;  // the residue's last record
      for (int b = a + 1; b < residue->GetNumberOfAtoms(); ++b)
        at_end = at_end && !residue->GetAtom(b);
      if (r == last && !kept && at_end) {
        kept = true;
      } else {
        residue->DeleteAtom(a);
        edited = true;
      }
    }
  }
  if (last >= 0 && !kept) {
    mmdb::Atom* ter = new mmdb::Atom();
    chain->GetResidue(last)->AddAtom(ter);
    ter->MakeTer();
    edited = true;
  }
  return edited;
}

// The label_asym_id of the k-th group of a model (from 0), as the PDB
// names them: A to Z, then AA, BA ... ZA, AB ... (the first letter
// running fastest), and so on.
String asym_name(long long k) {
  int width = 1;
  for (long long count = 26; k >= count; count *= 26, ++width) k -= count;
  String name;
  for (int i = 0; i < width; ++i, k /= 26) name += char('A' + k % 26);
  return name;
}

// The first of the values counted that is counted most often; counts
// holds each value with its count, in the order the values came.
template <class T> T most_counted(const std::vector<std::pair<T, int>>& counts) {
  return std::max_element(counts.begin(), counts.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

// Counts one more of value in counts (most_counted).
template <class T> void count(std::vector<std::pair<T, int>>& counts, const T& value) {
  const auto found =
      std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == value; });
  if (found == counts.end())
    counts.emplace_back(value, 1);
  else
    ++found->second;
}

// Sets the mmCIF label ids of a model's residues, as files from the PDB
// give them: the polymer of each chain, each ligand and the waters of each
// chain are groups with label_asym_ids of their own, named in that order
// (all polymers, then all ligands, then all waters, each in model order);
// the entities number the distinct polymer sequences, then the ligands'
// residue names, then water. A polymer residue's label_seq_id follows the
// one before it by 1 where it continues its backbone (continues, by table
// position, as chain_parts found it) or is numbered right after it
// (numbered_next), else by as much as the residue numbers rise (missing
// residues), or by 2 where they do not; the first is 1. Other residues
// have none. An entity holds one sequence: the polymers of an entity give
// the same residue at every label_seq_id they share (two of the same
// residue names, their gaps in other places, are two entities).
//
// A model read from mmCIF (read_labels) keeps the labels it was read with
// where they agree with the groups, which may have moved residues out of
// the label_asym_id they were read in. Each label_asym_id read goes to the
// groups of one part (polymer, ligand or water) of one chain, those
// holding most of its residues (the first on a tie); a polymer or water
// group takes the one of those most of its residues hold. Each entity read
// goes to the part most of the residues keeping it are in: the first group
// of that part keeps it, and each later one that agrees with those that
// kept it (a polymer at every label_seq_id they share, so that chains
// observed over different lengths keep one entity; another of the same
// residue name). A group that does not shares a new entity with the others
// of the entity it was read in that it agrees with so. A residue whose
// label_asym_id goes elsewhere, or whose group has another, and one
// without labels, is labelled afresh with its group: every label_asym_id
// then holds one group's entity, the new names and entities avoiding those
// kept. A polymer residue that does not continue the backbone of the one
// before it keeps its label_seq_id where that is above the one before
// (the residues missing between as its source numbers them), unless that
// is a step of one where the rule above steps by more; else it is numbered
// as a new one.
void set_model_labels(mmdb::Model* model, const std::vector<std::vector<Part>>& parts,
                      const std::vector<std::vector<bool>>& continues,
                      const std::vector<std::vector<int>>& polymer_of, const bool read_labels) {
  struct Group {
    std::vector<mmdb::Residue*> residues;
    String entity_key;
    Part part;
    int chain;
    String name;                  // its label_asym_id; empty until chosen
    int entity = 0;               // its label_entity_id; 0 until chosen
    std::vector<bool> continues;  // a polymer's residues that continue the one before
    int polymer = 0;              // which of its chain's polymers
    int unkept = 0;               // an entity read that it does not agree with; 0 for none
    // Its part of its chain, as a number.
    int holder() const { return chain * 8 + int(part) * 2 + polymer; }
  };
  std::vector<Group> polymers, ligands, waters;
  for (int c = 0; c < int(parts.size()); ++c) {
    mmdb::Chain* chain = model->GetChain(c);
    Group polymer[2] = {{{}, "polymer", Part::polymer, c, "", 0, {}, 0},
                        {{}, "polymer", Part::polymer, c, "", 0, {}, 1}},
          water{{}, "water", Part::water, c, "", 0, {}};
    for (int r = 0; r < int(parts[c].size()); ++r) {
      mmdb::Residue* residue = chain->GetResidue(r);
      if (parts[c][r] == Part::polymer) {
        Group& to = polymer[polymer_of[c][r]];
        to.residues.push_back(residue);
        to.continues.push_back(continues[c][r]);
        to.entity_key += String(" ") + residue->name;
      } else if (parts[c][r] == Part::water) {
        water.residues.push_back(residue);
      } else if (parts[c][r] == Part::ligand) {
        ligands.push_back(
            Group{{residue}, String("ligand ") + residue->name, Part::ligand, c, "", 0, {}});
      }
    }
    for (const Group& group : polymer)
      if (!group.residues.empty()) polymers.push_back(group);
    if (!water.residues.empty()) waters.push_back(water);
  }
  std::vector<Group> groups = polymers;
  groups.insert(groups.end(), ligands.begin(), ligands.end());
  groups.insert(groups.end(), waters.begin(), waters.end());

  const auto read = [&](mmdb::Residue* residue) {
    return read_labels && residue->label_asym_id[0] != '\0';
  };
  std::map<String, std::vector<std::pair<int, int>>> holders;  // by label_asym_id read
  for (const Group& group : groups)
    for (mmdb::Residue* residue : group.residues)
      if (read(residue)) count(holders[residue->label_asym_id], group.holder());
  for (Group& group : groups) {
    std::vector<std::pair<String, int>> names;
    for (mmdb::Residue* residue : group.residues)
      if (read(residue) && most_counted(holders[residue->label_asym_id]) == group.holder())
        count(names, String(residue->label_asym_id));
    if (!names.empty()) group.name = most_counted(names);
  }
  const auto keeps = [&](const Group& group, mmdb::Residue* residue) {
    return read(residue) && group.name == residue->label_asym_id;
  };
  for (Group& group : groups) {
    if (group.part != Part::polymer) continue;
    mmdb::Residue* previous = nullptr;
    bool previous_kept = true;  // whether the residue before kept the label read
    for (std::size_t i = 0; i < group.residues.size(); ++i) {
      mmdb::Residue* residue = group.residues[i];
      const bool continues = previous && group.continues[i];
      const int before = previous ? previous->label_seq_id : 0, read_label = residue->label_seq_id;
      // A step of one says the residues are bonded or numbered one after
      // the other; any other pair steps as the numbers rise, else by 2.
      const long long step = !previous || continues || numbered_next(previous, residue) ? 1
                             : residue->seqNum > previous->seqNum
                                 ? (long long)residue->seqNum - previous->seqNum
                                 : 2;
      // A label read is kept only after one kept: once the polymer changes
      // (a residue moved out of it or in), the labels after the change step
      // as the rule says, not by the distances of labels read around others.
      if (continues || !keeps(group, residue) || !previous_kept || read_label <= before ||
          (step > 1 && read_label == before + 1LL))
        residue->label_seq_id = int(std::min<long long>(INT_MAX, before + step));
      previous_kept = keeps(group, residue) && residue->label_seq_id == read_label;
      previous = residue;
    }
  }

  std::map<int, std::vector<std::pair<Part, int>>> entity_parts;  // by entity read
  int last_entity = 0;
  for (const Group& group : groups)
    for (mmdb::Residue* residue : group.residues)
      if (keeps(group, residue) && residue->label_entity_id > 0) {  // none the library could hold
        count(entity_parts[residue->label_entity_id], group.part);
        last_entity = std::max(last_entity, residue->label_entity_id);
      }
  // What the groups of each entity hold: a polymer's residue names by
  // label_seq_id, another group's key. A group agrees with an entity, and
  // may join it, where it is a polymer giving the same residue at every
  // label_seq_id they share, or another group of the same key.
  struct Held {
    String key;  // empty while the entity holds no group
    std::map<int, String> residues;
  };
  std::map<int, Held> held;
  const auto agrees = [](const Group& group, const Held& entity) {
    if (entity.key.empty()) return true;
    if (group.part != Part::polymer) return group.entity_key == entity.key;
    return std::all_of(group.residues.begin(), group.residues.end(), [&](mmdb::Residue* residue) {
      const auto at = entity.residues.find(residue->label_seq_id);
      return at == entity.residues.end() || at->second == residue->name;
    });
  };
  const auto join = [&](Group& group, const int entity) {
    group.entity = entity;
    Held& holds = held[entity];
    holds.key = group.entity_key;
    if (group.part == Part::polymer)
      for (mmdb::Residue* residue : group.residues)
        holds.residues.emplace(residue->label_seq_id, residue->name);
  };
  std::set<String> used_names;
  std::map<String, std::vector<int>> entities;  // by key, in the order they were taken
  for (Group& group : groups) {
    if (!group.name.empty()) used_names.insert(group.name);
    for (mmdb::Residue* residue : group.residues) {
      const int given = residue->label_entity_id;
      if (group.entity || !keeps(group, residue) || given <= 0 ||
          most_counted(entity_parts[given]) != group.part)
        continue;
      if (agrees(group, held[given])) {
        join(group, given);
        std::vector<int>& of_key = entities[group.entity_key];
        if (std::find(of_key.begin(), of_key.end(), given) == of_key.end()) of_key.push_back(given);
      } else if (!group.unkept) {
        group.unkept = given;
      }
    }
  }
  // A group that keeps no entity joins the first of its key that it agrees
  // with, else the first it agrees with of those made for the others of the
  // entity it was read in, else a new one.
  std::map<int, std::vector<int>> parted;  // by entity read: those made for its groups
  for (Group& group : groups) {
    if (group.entity > 0) continue;
    std::vector<int> candidates = entities[group.entity_key];
    std::vector<int>* made = group.unkept ? &parted[group.unkept] : nullptr;
    if (made) candidates.insert(candidates.end(), made->begin(), made->end());
    for (const int entity : candidates)
      if (!group.entity && agrees(group, held[entity])) join(group, entity);
    if (group.entity) continue;
    join(group, ++last_entity);
    entities[group.entity_key].push_back(last_entity);
    if (made) made->push_back(last_entity);
  }

  long long next_name = 0;
  for (Group& group : groups) {
    while (group.name.empty()) {
      const String name = asym_name(next_name++);
      if (!used_names.count(name)) group.name = name;
    }
    for (mmdb::Residue* residue : group.residues) {
      copy_field(residue->label_asym_id, group.name);
      residue->label_entity_id = group.entity;
      if (group.part != Part::polymer) residue->label_seq_id = mmdb::MinInt4;  // written "."
    }
  }
}

// The _entity_poly.type of a polymer of these residue kinds (counts by
// Residue_kind), in the names gemmi gives them: the kind most of its
// residues are, and for a peptide the hand most of its residues with one
// have.
const char* polymer_type(const int (&count)[int(Residue_kind::dna) + 1]) {
  const int l = count[int(Residue_kind::l_amino_acid)], d = count[int(Residue_kind::d_amino_acid)];
  const int amino_acids = l + d + count[int(Residue_kind::amino_acid)];
  const int rna = count[int(Residue_kind::rna)], dna = count[int(Residue_kind::dna)];
  if (amino_acids == 0 && rna + dna == 0) return "other";
  if (amino_acids >= rna + dna) return l >= d ? "polypeptide(L)" : "polypeptide(D)";
  if (dna == 0) return "polyribonucleotide";
  return rna == 0 ? "polydeoxyribonucleotide" : "polydeoxyribonucleotide/polyribonucleotide hybrid";
}

// True when the field holds no value: written "?" or ".".
bool is_missing(const char* field) {
  return !field || !*field || std::strcmp(field, mmdb::mmcif::CIF_NODATA_QUESTION_FIELD) == 0 ||
         std::strcmp(field, mmdb::mmcif::CIF_NODATA_DOT_FIELD) == 0;
}

// A value as an mmCIF file holds it: bare where it can be, else in quotes
// or as a text field.
String cif_value(const char* field) {
  if (!field || std::strcmp(field, mmdb::mmcif::CIF_NODATA_QUESTION_FIELD) == 0) return "?";
  if (is_missing(field)) return ".";
  const String value(field);
  if (value.find_first_of(" \t\n'\"") == String::npos &&
      String("_#$;[]").find(value[0]) == String::npos && unwritable(value, false).empty())
    return value;
  if (value.find('\n') == String::npos) {
    if (value.find("' ") == String::npos && value.back() != '\'') return "'" + value + "'";
    if (value.find("\" ") == String::npos && value.back() != '"') return "\"" + value + "\"";
  }
  return "\n;" + value + "\n;\n";
}

// A loop of atom rows that writes a missing chain id (auth_asym_id) as an
// empty quoted value '', which the library's writer cannot: it writes an
// empty value as "." and puts any value with a quote into quotes. The other
// values are written as the library's own writer holds them (cif_value).
class Blank_chain_loop : public mmdb::mmcif::Loop {
 public:
  explicit Blank_chain_loop(mmdb::mmcif::Loop& from) : Loop(from.GetCategoryName()) { Copy(&from); }

  void WriteMMCIF(mmdb::io::RFile f) override {
    f.WriteLine("loop_");
    std::vector<bool> chain_id(GetNofTags());
    for (int t = 0; t < GetNofTags(); ++t) {
      f.WriteLine((String(GetCategoryName()) + "." + GetTag(t)).c_str());
      chain_id[t] = is_chain_id(GetTag(t));
    }
    for (int r = 0; r < GetLoopLength(); ++r) {
      String line;
      for (int t = 0; t < GetNofTags(); ++t) {
        const char* field = GetField(r, t);
        line += " " + (chain_id[t] && is_missing(field) ? String("''") : cif_value(field));
      }
      f.WriteLine(line.c_str());
    }
    f.WriteLine("#");
  }

  static bool is_chain_id(const String& tag) {
    return tag == "auth_asym_id" || tag == "pdbx_auth_asym_id";
  }
};

// The categories of the library's mmCIF data, which it keeps from its
// users: a loop is replaced in its place.
struct Cif_categories : mmdb::mmcif::Data {
  static mmdb::mmcif::PPCategory& of(mmdb::mmcif::Data& cif) {
    return cif.*(&Cif_categories::Category);
  }
};

// Writes each missing chain id of the atom loops as ''.
void quote_blank_chain_ids(mmdb::mmcif::Data& cif) {
  mmdb::mmcif::PPCategory categories = Cif_categories::of(cif);
  for (int i = 0; i < cif.GetNumberOfCategories(); ++i) {
    mmdb::mmcif::Category* category = categories[i];
    const String name = category->GetCategoryName() ? category->GetCategoryName() : "";
    if ((name != "_atom_site" && name != "_atom_site_anisotrop") ||
        category->GetCategoryID() != mmdb::mmcif::MMCIF_Loop)
      continue;
    auto& loop = static_cast<mmdb::mmcif::Loop&>(*category);
    bool blank = false;
    for (int t = 0; t < loop.GetNofTags() && !blank; ++t)
      if (Blank_chain_loop::is_chain_id(loop.GetTag(t)))
        for (int r = 0; r < loop.GetLoopLength() && !blank; ++r)
          blank = is_missing(loop.GetField(r, t));
    if (!blank) continue;
    categories[i] = new Blank_chain_loop(loop);
    delete category;
  }
}

// What each entity is and which label_asym_ids belong to it, from the
// labels set_output_labels gave: water where all its residues are water,
// a polymer where they have label_seq_ids, else a non-polymer.
void add_entities(mmdb::Manager& mmdb, mmdb::mmcif::Data& cif) {
  struct Entity {
    bool water = true, polymer = false;
    int kinds[int(Residue_kind::dna) + 1] = {};
  };
  std::map<int, Entity> entities;
  std::vector<std::pair<String, int>> asyms;
  std::set<String> seen;
  for_each_residue(mmdb, [&](mmdb::Residue* residue) {
    if (residue->GetNumberOfAtoms() == 0) return;
    Entity& entity = entities[residue->label_entity_id];
    entity.water = entity.water && is_water(residue->name);
    if (residue->label_seq_id > 0) {
      entity.polymer = true;
      ++entity.kinds[int(residue_kind(residue))];
    }
    if (seen.insert(residue->label_asym_id).second)
      asyms.emplace_back(residue->label_asym_id, residue->label_entity_id);
  });
  for (const char* name : {"_entity", "_entity_poly", "_struct_asym"}) cif.DeleteCategory(name);
  if (entities.empty()) return;
  int row = 0, poly_row = 0;
  for (const auto& [id, entity] : entities) {
    cif.PutLoopInteger(id, "_entity", "id", row);
    cif.PutLoopString(entity.water     ? "water"
                      : entity.polymer ? "polymer"
                                       : "non-polymer",
                      "_entity", "type", row++);
    if (entity.water || !entity.polymer) continue;
    cif.PutLoopInteger(id, "_entity_poly", "entity_id", poly_row);
    cif.PutLoopString(polymer_type(entity.kinds), "_entity_poly", "type", poly_row++);
  }
  row = 0;
  for (const auto& [asym, entity] : asyms) {
    cif.PutLoopString(asym.c_str(), "_struct_asym", "id", row);
    cif.PutLoopInteger(entity, "_struct_asym", "entity_id", row++);
  }
}

// The block code of an mmCIF write to file for a model of that entry id
// (Block_code).
String block_code(const String& entry_id, const String& file) {
  String code = String(entry_id).trim();
  if (code.empty()) {
    code = file.substr(file.rfind('/') == String::npos ? 0 : file.rfind('/') + 1);
    code = Files::without_gzip(code);
    const std::size_t dot = code.rfind('.');
    if (dot != String::npos && dot > 0) code.resize(dot);
  }
  for (char& c : code)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') c = '_';
  code = code.substr(0, sizeof(mmdb::IDCode) - 1);
  return code.empty() ? String("model") : code;
}

}  // namespace

int run_end(mmdb::Chain* chain, const bool read_labels) {
  const int n = chain->GetNumberOfResidues();
  // Each residue's first atom and the TER records, by place in the
  // library's atom table.
  std::vector<int> first(n, INT_MAX), ters;
  for (int r = 0; r < n; ++r)
    for (int a = 0; chain->GetResidue(r) && a < chain->GetResidue(r)->GetNumberOfAtoms(); ++a) {
      mmdb::Atom* atom = chain->GetResidue(r)->GetAtom(a);
      if (atom && atom->Ter)
        ters.push_back(atom->GetIndex());
      else if (placed(atom))
        first[r] = std::min(first[r], atom->GetIndex());
    }
  const int earliest = n > 0 ? *std::min_element(first.begin(), first.end()) : INT_MAX;
  int ter = INT_MAX, end = -1;
  for (const int t : ters)
    if (t > earliest) ter = std::min(ter, t);
  if (ter != INT_MAX) {
    for (int r = 0; r < n; ++r)
      if (first[r] < ter) end = r;
    return end;
  }
  if (!read_labels) return -1;
  const char* polymer = nullptr;  // that of the first standard residue given as ATOM
  for (int r = 0; r < n && !polymer; ++r) {
    mmdb::Residue* residue = chain->GetResidue(r);
    bool ter = false;
    if (residue && is_standard_residue(residue->name) && !all_het(residue, ter) &&
        residue->label_asym_id[0] != '\0')
      polymer = residue->label_asym_id;
  }
  for (int r = 0; r < n && polymer; ++r)
    if (mmdb::Residue* residue = chain->GetResidue(r);
        residue && std::strcmp(residue->label_asym_id, polymer) == 0)
      end = r;
  return end;
}

void set_output_labels(mmdb::Manager& mmdb, const bool read_labels) {
  bool edited = false, reordered = false;
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m) {
    mmdb::Model* model = mmdb.GetModel(m);
    if (!model) continue;
    std::vector<std::vector<Part>> parts(model->GetNumberOfChains());
    std::vector<std::vector<bool>> continues(parts.size());
    std::vector<std::vector<int>> polymer_of(parts.size());
    for (int c = 0; c < model->GetNumberOfChains(); ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      if (!chain) continue;
      std::vector<bool> holds_ter;
      std::vector<int> order;
      parts[c] = chain_parts(chain, read_labels, holds_ter, order, continues[c], polymer_of[c]);
      reordered = polymer_first(chain, order, parts[c], holds_ter) || reordered;
      edited = place_ter(chain, parts[c], holds_ter) || edited;
      for (int r = 0; r < chain->GetNumberOfResidues(); ++r) {
        mmdb::Residue* residue = chain->GetResidue(r);
        if (!residue) continue;
        copy_field(residue->label_comp_id, residue->name);
        // A free amino acid or nucleotide is a HETATM record, as the PDB
        // gives it.
        const bool het = !is_standard_residue(residue->name) || parts[c][r] != Part::polymer;
        for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
          mmdb::Atom* atom = residue->GetAtom(a);
          if (!atom || atom->Ter) continue;
          atom->Het = het;
          copy_field(atom->label_atom_id, String(atom->name).trim());
        }
      }
    }
    set_model_labels(model, parts, continues, polymer_of, read_labels);
  }
  // Serial numbers (mmCIF atom ids) in the order the records are written,
  // TER records counted, as in a PDB file: the library writes a residue's
  // atoms together, which the file may give in several runs.
  int last = INT_MIN;
  bool rising = true;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    rising = rising && atom->serNum > last;
    last = atom->serNum;
  });
  if (!edited && !reordered && rising) return;
  finish_edit(mmdb);
  mmdb.PDBCleanup(mmdb::PDBCLEAN_SERIAL);
}

void complete_cif_data(mmdb::Manager& mmdb, mmdb::mmcif::Data& cif) {
  add_entities(mmdb, cif);
  quote_blank_chain_ids(cif);
}

Block_code::Block_code(mmdb::Manager& mmdb, const String& file)
    : mmdb_(mmdb), own_(mmdb.GetEntryID() ? mmdb.GetEntryID() : "") {
  mmdb_.SetEntryID(block_code(own_, file).c_str());
}

Block_code::~Block_code() { mmdb_.SetEntryID(own_.c_str()); }

Ter_records_aside::Ter_records_aside(mmdb::Manager& mmdb) : mmdb_(mmdb) {
  std::vector<mmdb::Atom*> ters;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    if (!atom->Ter)
      serials_.emplace_back(atom, atom->serNum);
    else if (atom->GetResidue())
      ters.push_back(atom);
  });
  for (mmdb::Atom* ter : ters) {
    mmdb::Residue* residue = ter->GetResidue();
    int atoms = 0;  // the residue's other records: one without any goes with its TER
    for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
      atoms += residue->GetAtom(a) && !residue->GetAtom(a)->Ter;
    if (atoms > 0) held_.emplace_back(residue, ter->serNum);
    for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
      if (residue->GetAtom(a) == ter) residue->DeleteAtom(a);
  }
  if (ters.empty()) {
    serials_.clear();  // nothing to put back
    return;
  }
  finish_edit(mmdb);
  mmdb.PDBCleanup(mmdb::PDBCLEAN_SERIAL);  // atom ids without the gaps the records left
}

Ter_records_aside::~Ter_records_aside() {
  for (const auto& [residue, serial] : held_) {
    mmdb::Atom* ter = new mmdb::Atom();
    residue->AddAtom(ter);
    ter->MakeTer();
    ter->serNum = serial;
  }
  for (const auto& [atom, serial] : serials_) atom->serNum = serial;
  if (!held_.empty()) finish_edit(mmdb_);
}

}  // namespace vantrel::mmdb_internal
