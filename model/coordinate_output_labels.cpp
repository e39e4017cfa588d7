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
#include "model/coordinate_faults.h"
#include "model/coordinate_text_checks.h"
#include "model/mmdb_hierarchy.h"
#include "system/gzip_name.h"

namespace vantrel::mmdb_internal {

namespace {

// Why an identifier cannot be written in the form, or empty when it can,
// as found by writing each case with the library and reading it back.
// Both forms are text of printable ASCII: in a PDB record a byte beyond it
// can vanish (an insertion code written as a blank, which then reads as
// a second residue of the same number). The library's mmCIF writer
// quotes a value with blanks or quotes (a text field when it holds both
// kinds), but writes unquoted a value that starts like a tag, a comment or
// a text field, or with a reserved word: its reader then fails on the
// file. A leading "$" and reserved words in capitals it reads back, but
// such a file is not mmCIF (other readers refuse it), nor is one holding a
// control character or a byte beyond ASCII (a tab parts the value).
String unwritable(const String& value, const bool pdb) {
  for (const char c : value)
    if (c < 0x20 || c > 0x7e) return "holds a character that is not printable ASCII";
  if (pdb) return String();
  const String text = value.trim();  // written without the blanks around it
  if (!text.empty() && String("_#$;").find(text[0]) != String::npos)
    return "starts with \"" + text.substr(0, 1) + "\"";
  String lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : {"data_", "loop_", "save_", "global_", "stop_"})
    if (lower.compare(0, std::strlen(word), word) == 0) return "starts with a reserved word";
  return String();
}

// The residues of polymers that the PDB writes as ATOM records, as gemmi
// tabulates them standard: the amino acids with UNK, SEC, PYL, ASX and GLX,
// and the nucleotides of RNA and DNA. The library's own tables hold more
// (CYH, +A, 5NC), which are no standard residues.
enum class Kind { none, amino_acid, rna, dna };
Kind standard_kind(const String& name) {
  static const char* const amino_acids[] = {
      "ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU", "LYS", "MET",
      "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL", "UNK", "SEC", "PYL", "ASX", "GLX"};
  static const char* const rna[] = {"A", "C", "G", "U", "I"};
  static const char* const dna[] = {"DA", "DC", "DG", "DT", "DI", "DU"};
  const auto in = [&](const auto& names) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
  };
  return in(amino_acids) ? Kind::amino_acid
         : in(rna)       ? Kind::rna
         : in(dna)       ? Kind::dna
                         : Kind::none;
}

bool is_standard_residue(const String& name) { return standard_kind(name) != Kind::none; }

// Water as readers name it (gemmi's is_water). The library's solvent list
// also holds ligands (ADE, URA, MOH ...), which are no water.
bool is_water(const String& name) {
  return name == "HOH" || name == "WAT" || name == "DOD" || name == "H2O";
}

// The bonds that carry a chain's polymer from one residue to the next: a
// carbon bonded to the next residue's nitrogen (the peptide bond C-N) and
// an oxygen to its phosphorus (a nucleotide's O3'-P), whatever the atoms
// are named, so that a chromophore's N1 or a linker's C15 carries the
// chain too. On a standard residue's side only its backbone atom does (C
// or N; O3', O3* in older files, or P): a sugar on an asparagine's ND2 or a
// cofactor on a lysine's NZ is no part of the chain. Hydrogens and metals
// never are. A bond is taken where the atoms are within 1.5 times its
// length (1.33 and 1.61 A): a stretched bond of a poor model stays under
// that, and atoms that are not bonded come no nearer than about 2.6 A.
struct Backbone_bond {
  char from, to;              // the elements
  const char* from_names[2];  // the atom names on a standard residue's side
  const char* to_name;
  double longest;
};
const Backbone_bond backbone_bonds[] = {{'C', 'N', {"C", "C"}, "N", 1.5 * 1.33},
                                        {'O', 'P', {"O3'", "O3*"}, "P", 1.5 * 1.61}};

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

// Which end of a backbone bond the atom can be: twice the bond's index in
// backbone_bonds, plus 1 for its second atom (N, P); -1 for none. standard
// says whether the atom's residue is a standard residue.
int bond_end(const mmdb::Atom* atom, const bool standard) {
  if (!placed(atom) || !std::isfinite(atom->x + atom->y + atom->z)) return -1;
  const char element = element_letter(atom);
  for (int b = 0; b < int(std::size(backbone_bonds)); ++b) {
    const Backbone_bond& bond = backbone_bonds[b];
    if (element != bond.from && element != bond.to) continue;
    const bool to = element == bond.to;
    if (standard) {
      const std::string_view name = trimmed(atom->name);
      if (to ? name != bond.to_name : name != bond.from_names[0] && name != bond.from_names[1])
        return -1;
    }
    return 2 * b + int(to);
  }
  return -1;
}

// The backbone bonds between residues of a chain: next[r] holds the
// residues whose N (P) a C (O) of residue r bonds, previous[r] those bonded
// the other way.
struct Links {
  std::vector<std::vector<int>> next, previous;
  bool bonded(const int r, const int s) const {
    return std::find(next[r].begin(), next[r].end(), s) != next[r].end() ||
           std::find(previous[r].begin(), previous[r].end(), s) != previous[r].end();
  }
  bool free(const int r) const { return next[r].empty() && previous[r].empty(); }
};

// The backbone bonds between the residues of a chain marked in, wherever
// the file puts them. The bonds' atoms are sorted by the cubic cell they
// lie in, as wide as the longest bond, and each C or O looks only at the N
// and P atoms of the 27 cells around its own: the search costs the sorts
// and about as much again as the chain's atoms.
Links backbone_links(const std::vector<mmdb::Residue*>& residues, const std::vector<bool>& in) {
  double width = 0;
  for (const Backbone_bond& bond : backbone_bonds) width = std::max(width, bond.longest);
  // A cell as one number: its indices along x, y and z in 21 bits each, z
  // last, so that the cells along z from one are a run of numbers.
  // Positions far beyond any crystal share cells rather than overflow.
  constexpr long long offset = 1LL << 20;
  const auto index = [width](const double v) {
    return (long long)std::floor(std::clamp(v / width, 2.0 - offset, offset - 2.0)) + offset;
  };
  const auto cell = [](const long long x, const long long y, const long long z) {
    return (x << 42) | (y << 21) | z;
  };
  struct End {
    long long cell;
    const mmdb::Atom* atom;
    int residue, end;
    bool operator<(const End& other) const { return cell < other.cell; }
  };
  std::vector<End> starts, ends;  // the carbons and oxygens, the nitrogens and phosphorus
  for (int r = 0; r < int(residues.size()); ++r) {
    if (!in[r]) continue;
    const bool standard = is_standard_residue(residues[r]->name);
    for (int a = 0; a < residues[r]->GetNumberOfAtoms(); ++a) {
      const mmdb::Atom* atom = residues[r]->GetAtom(a);
      const int end = bond_end(atom, standard);
      if (end < 0) continue;
      (end % 2 == 0 ? starts : ends)
          .push_back({cell(index(atom->x), index(atom->y), index(atom->z)), atom, r, end});
    }
  }
  // For each of the 9 columns of cells beside and on a start's, the starts
  // and ends in order of their cells: the run of ends in the 3 cells of
  // that column around a start moves on with the start.
  std::sort(starts.begin(), starts.end());
  std::sort(ends.begin(), ends.end());
  Links links{std::vector<std::vector<int>>(residues.size()),
              std::vector<std::vector<int>>(residues.size())};
  for (int i = 0; i < 9; ++i) {
    const long long column = cell(i % 3, i / 3, 0) - cell(1, 1, 0);
    auto first = ends.begin();
    for (const End& from : starts) {
      const long long low = from.cell + column - 1, high = low + 2;
      while (first != ends.end() && first->cell < low) ++first;
      const double longest = backbone_bonds[from.end / 2].longest;
      for (auto to = first; to != ends.end() && to->cell <= high; ++to) {
        if (to->end != from.end + 1 || to->residue == from.residue) continue;
        const double dx = from.atom->x - to->atom->x, dy = from.atom->y - to->atom->y,
                     dz = from.atom->z - to->atom->z;
        std::vector<int>& next = links.next[from.residue];
        if (dx * dx + dy * dy + dz * dz > longest * longest ||
            std::find(next.begin(), next.end(), to->residue) != next.end())
          continue;
        next.push_back(to->residue);
        links.previous[to->residue].push_back(from.residue);
      }
    }
  }
  return links;
}

// True when the residue has the backbone atoms of an amino acid (N, CA and
// C) or, when not amino_acid, of a nucleotide (P and O3', or O3*).
bool has_backbone(mmdb::Residue* residue, const bool amino_acid) {
  const char* const names[3] = {amino_acid ? "N" : "P", amino_acid ? "CA" : "O3'",
                                amino_acid ? "C" : "O3*"};
  bool found[3] = {};
  for (int a = 0; a < residue->GetNumberOfAtoms(); ++a)
    if (const mmdb::Atom* atom = residue->GetAtom(a); placed(atom))
      for (int k = 0; k < 3; ++k) found[k] = found[k] || trimmed(atom->name) == names[k];
  return found[0] && (amino_acid ? found[1] && found[2] : found[1] || found[2]);
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

// The table positions of a chain's residues in the order they are written
// (parts as chain_parts found them; in_run the residues of the chain's
// run): the polymer first, its residues of the run in their order (a
// cyclic peptide too) and each other one next to the first placed residue
// it is bonded to, after it where that residue's C (O3') bonds it, else
// before it; then the other residues in their order.
std::vector<int> written_order(const std::vector<Part>& parts, const std::vector<bool>& in_run,
                               const Links& links) {
  const int n = int(parts.size());
  std::vector<int> order, others;
  std::vector<bool> joining(n, false);
  for (int r = 0; r < n; ++r) {
    if (parts[r] != Part::polymer)
      others.push_back(r);
    else if (in_run[r])
      order.push_back(r);
    else
      joining[r] = true;
  }
  std::vector<int> placed = order;  // those whose bonded residues are looked at in turn
  for (std::size_t i = 0; i < placed.size(); ++i)
    for (const bool after : {true, false})
      for (const int r : after ? links.next[placed[i]] : links.previous[placed[i]]) {
        if (!joining[r]) continue;
        joining[r] = false;
        const auto at = std::find(order.begin(), order.end(), placed[i]);
        order.insert(after ? at + 1 : at, r);
        placed.push_back(r);
      }
  for (int r = 0; r < n; ++r)  // none: the polymer is bonded from the run
    if (joining[r]) order.push_back(r);
  order.insert(order.end(), others.begin(), others.end());
  return order;
}

// The parts of a chain's residues (none where the chain holds no residue),
// with order set to the order they are written in (written_order),
// continues for each place in that order whether its residue continues the
// backbone of the one written before it, and holds_ter for the residues
// that hold a TER record.
//
// The chain's run is what its file gives as the polymer (run_end): its
// residues before its first TER record, or of the polymer's label_asym_id
// (read_labels); without either, those from its first to its last standard
// residue of the chain's kind given as ATOM. The kind (amino acid or
// nucleotide) is the one most standard residues given as ATOM are, in the
// run where the file gives one. In the run these are polymer: each
// standard residue of that kind given as ATOM; each given as HETATM, and
// each residue with that kind's backbone atoms (N, CA and C; P and O3')
// that lies between two standard residues of that kind (a selenomethionine
// at a chain break), unless bonded to nothing between two residues bonded
// to each other (a free amino acid put in). So is each residue bonded to
// the polymer, directly or through others, in the run or not (caps,
// D-amino acids, modified residues, a chromophore, a residue given after
// TER). In a chain without a standard residue given as ATOM, its bonded
// residues are polymer (a peptide of modified residues only; a glycan,
// bonded by no backbone bond, stays ligands). Water never is.
std::vector<Part> chain_parts(mmdb::Chain* chain, const bool read_labels,
                              std::vector<bool>& holds_ter, std::vector<int>& order,
                              std::vector<bool>& continues) {
  const int n = chain->GetNumberOfResidues();
  std::vector<mmdb::Residue*> residues(n);
  std::vector<Part> parts(n, Part::none);
  std::vector<Kind> kinds(n, Kind::none);
  std::vector<bool> het(n, false), in(n, false);
  std::vector<int> chain_order;  // the residues that are no water, in file order
  holds_ter.assign(n, false);
  for (int r = 0; r < n; ++r) {
    residues[r] = chain->GetResidue(r);
    if (!residues[r]) continue;
    parts[r] = is_water(residues[r]->name) ? Part::water : Part::ligand;
    bool held = false;
    het[r] = all_het(residues[r], held);
    holds_ter[r] = held;
    in[r] = parts[r] == Part::ligand;
    if (!in[r]) continue;
    chain_order.push_back(r);
    kinds[r] = standard_kind(residues[r]->name);
  }
  const Links links = backbone_links(residues, in);
  const int end = run_end(chain, read_labels);
  // The chain's kind, from its standard residues given as ATOM (in the run
  // where the file gives one).
  int amino_acids = 0, nucleotides = 0;
  for (const int r : chain_order)
    if (kinds[r] != Kind::none && !het[r] && (end < 0 || r <= end))
      ++(kinds[r] == Kind::amino_acid ? amino_acids : nucleotides);
  const bool has_standard = amino_acids + nucleotides > 0, amino_acid = amino_acids >= nucleotides;
  const auto of_kind = [&](const int r) {
    return kinds[r] != Kind::none && (kinds[r] == Kind::amino_acid) == amino_acid;
  };
  // The run, and in it the first and last standard residue of the kind (as
  // places in chain_order).
  std::vector<bool> in_run(n, !has_standard);
  if (has_standard && end >= 0) {
    for (int r = 0; r <= end; ++r) in_run[r] = true;
  } else if (has_standard) {
    int first = n, last = -1;
    for (const int r : chain_order)
      if (of_kind(r) && !het[r]) {
        first = std::min(first, r);
        last = r;
      }
    for (int r = first; r <= last; ++r) in_run[r] = true;
  }
  std::size_t first_standard = chain_order.size(), last_standard = 0;
  for (std::size_t i = 0; i < chain_order.size(); ++i)
    if (in_run[chain_order[i]] && of_kind(chain_order[i])) {
      first_standard = std::min(first_standard, i);
      last_standard = i;
    }
  std::vector<int> seeds;
  for (std::size_t i = 0; i < chain_order.size(); ++i) {
    const int r = chain_order[i];
    if (!in_run[r]) continue;
    if (!has_standard) {
      if (!links.free(r)) seeds.push_back(r);
      continue;
    }
    const bool between = links.free(r) && i > 0 && i + 1 < chain_order.size() &&
                         links.bonded(chain_order[i - 1], chain_order[i + 1]);
    if ((of_kind(r) && !het[r]) ||
        (!between && (of_kind(r) || (i > first_standard && i < last_standard &&
                                     has_backbone(residues[r], amino_acid)))))
      seeds.push_back(r);
  }
  for (const int r : seeds) parts[r] = Part::polymer;
  for (std::vector<int> next = seeds; !next.empty();) {
    const int r = next.back();
    next.pop_back();
    for (const std::vector<int>* bonded : {&links.next[r], &links.previous[r]})
      for (const int s : *bonded)
        if (parts[s] != Part::polymer) {
          parts[s] = Part::polymer;
          next.push_back(s);
        }
  }
  order = written_order(parts, in_run, links);
  continues.assign(order.size(), false);
  for (std::size_t i = 1; i < order.size(); ++i) {
    const std::vector<int>& next = links.next[order[i - 1]];
    continues[i] = std::find(next.begin(), next.end(), order[i]) != next.end();
  }
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
// position, as chain_parts found it), and otherwise by as
// much as the residue numbers step (missing residues), at least 1; the
// first is 1. Other residues have none.
//
// A model read from mmCIF (read_labels) keeps the labels it was read with
// where they agree with the groups, which may have moved residues out of
// the label_asym_id they were read in. Each label_asym_id read goes to the
// groups of one part (polymer, ligand or water) of one chain, those
// holding most of its residues (the first on a tie); a polymer or water
// group takes the one of those most of its residues hold. Each entity read
// goes to the part most of the residues keeping it are in. A residue whose
// label_asym_id goes elsewhere, or whose group has another, and one
// without labels, is labelled afresh with its group: every label_asym_id
// then holds one group's entity, the new names and entities avoiding those
// kept. A polymer residue that does not continue the backbone of the one
// before it keeps its label_seq_id where that is above the one before
// (the residues missing between as its source numbers them), else is
// numbered as a new one.
void set_model_labels(mmdb::Model* model, const std::vector<std::vector<Part>>& parts,
                      const std::vector<std::vector<bool>>& continues, const bool read_labels) {
  struct Group {
    std::vector<mmdb::Residue*> residues;
    String entity_key;
    Part part;
    int chain;
    String name;     // its label_asym_id; empty until chosen
    int entity = 0;  // its label_entity_id; 0 until chosen
    std::vector<bool> continues;  // a polymer's residues that continue the one before
    // Its part of its chain, as a number.
    int holder() const { return chain * 4 + int(part); }
  };
  std::vector<Group> polymers, ligands, waters;
  for (int c = 0; c < int(parts.size()); ++c) {
    mmdb::Chain* chain = model->GetChain(c);
    Group polymer{{}, "polymer", Part::polymer, c, "", 0, {}},
        water{{}, "water", Part::water, c, "", 0, {}};
    for (int r = 0; r < int(parts[c].size()); ++r) {
      mmdb::Residue* residue = chain->GetResidue(r);
      if (parts[c][r] == Part::polymer) {
        polymer.residues.push_back(residue);
        polymer.continues.push_back(continues[c][r]);
        polymer.entity_key += String(" ") + residue->name;
      } else if (parts[c][r] == Part::water) {
        water.residues.push_back(residue);
      } else if (parts[c][r] == Part::ligand) {
        ligands.push_back(
            Group{{residue}, String("ligand ") + residue->name, Part::ligand, c, "", 0, {}});
      }
    }
    if (!polymer.residues.empty()) polymers.push_back(polymer);
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
  std::map<int, std::vector<std::pair<Part, int>>> entity_parts;  // by entity read
  int last_entity = 0;
  for (const Group& group : groups)
    for (mmdb::Residue* residue : group.residues)
      if (keeps(group, residue) && residue->label_entity_id > 0) {  // none the library could hold
        count(entity_parts[residue->label_entity_id], group.part);
        last_entity = std::max(last_entity, residue->label_entity_id);
      }
  std::set<String> used_names;
  std::map<String, int> entities;
  for (Group& group : groups) {
    if (!group.name.empty()) used_names.insert(group.name);
    for (mmdb::Residue* residue : group.residues)
      if (!group.entity && keeps(group, residue) && residue->label_entity_id > 0 &&
          most_counted(entity_parts[residue->label_entity_id]) == group.part) {
        group.entity = residue->label_entity_id;
        entities.emplace(group.entity_key, group.entity);
      }
  }
  long long next_name = 0;
  for (Group& group : groups) {
    const bool kept_name = !group.name.empty();
    while (group.name.empty()) {
      const String name = asym_name(next_name++);
      if (!used_names.count(name)) group.name = name;
    }
    if (group.entity <= 0) {
      const auto found = entities.emplace(group.entity_key, last_entity + 1);
      if (found.second) ++last_entity;
      group.entity = found.first->second;
    }
    mmdb::Residue* previous = nullptr;
    for (std::size_t i = 0; i < group.residues.size(); ++i) {
      mmdb::Residue* residue = group.residues[i];
      const bool own = kept_name && keeps(group, residue);
      copy_field(residue->label_asym_id, group.name);
      residue->label_entity_id = group.entity;
      if (group.part != Part::polymer) {
        residue->label_seq_id = mmdb::MinInt4;  // written "."
        continue;
      }
      const bool continues = previous && group.continues[i];
      const int before = previous ? previous->label_seq_id : 0;
      if (continues || !own || residue->label_seq_id <= before) {
        long long step = 1;
        if (previous && !continues)
          step = std::max(1LL, (long long)residue->seqNum - previous->seqNum);
        residue->label_seq_id = previous ? int(std::min<long long>(INT_MAX, before + step)) : 1;
      }
      previous = residue;
    }
  }
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
// for an amino acid), as is a D-amino acid's; another's by its atoms: an
// amino acid (N, CA and C), of L or D form by the hand its CA's bonds to N,
// C and CB make (none without CB), else a nucleotide (C1' and C4'), RNA
// with an O2'.
enum class Residue_kind { other, l_amino_acid, d_amino_acid, amino_acid, rna, dna };
Residue_kind residue_kind(mmdb::Residue* residue) {
  const Kind kind = standard_kind(residue->name);
  if (kind != Kind::none)
    return kind == Kind::amino_acid ? Residue_kind::l_amino_acid
           : kind == Kind::rna      ? Residue_kind::rna
                                    : Residue_kind::dna;
  if (is_d_amino_acid(residue->name)) return Residue_kind::d_amino_acid;
  std::map<String, mmdb::Atom*> atoms;
  for (int a = 0; a < residue->GetNumberOfAtoms(); ++a) {
    mmdb::Atom* atom = residue->GetAtom(a);
    if (placed(atom)) atoms.emplace(String(atom->name).trim(), atom);
  }
  const auto has = [&](const char* name) { return atoms.count(name) > 0; };
  if (has("N") && has("CA") && has("C")) {
    if (!has("CB")) return Residue_kind::amino_acid;
    const auto from_ca = [&](const char* name) {
      const mmdb::Atom *atom = atoms[name], *ca = atoms["CA"];
      return Vec3<>(atom->x - ca->x, atom->y - ca->y, atom->z - ca->z);
    };
    // (N - CA) . ((C - CA) x (CB - CA)) is positive at an L-amino acid's CA.
    const double volume = Vec3<>::dot(from_ca("N"), Vec3<>::cross(from_ca("C"), from_ca("CB")));
    return volume > 0 ? Residue_kind::l_amino_acid : Residue_kind::d_amino_acid;
  }
  if ((has("C1'") && has("C4'")) || (has("C1*") && has("C4*")))
    return has("O2'") || has("O2*") ? Residue_kind::rna : Residue_kind::dna;
  return Residue_kind::other;
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

String output_id_fault(mmdb::Manager& mmdb, const bool pdb) {
  String fault;  // the first found
  const auto refuse = [&](const String& why) {
    if (fault.empty()) fault = why;
  };
  const String form = pdb ? "the PDB form" : "the mmCIF form";
  // The length counts without blanks around the value; every byte the
  // library writes must be printable. An identifier is named, and in mmCIF
  // limited, as the reader takes the tag it is written under.
  const auto check = [&](const String& raw, const Cif_limit& limit, const std::size_t pdb_longest) {
    const std::size_t longest = pdb ? pdb_longest : limit.longest;
    const String value = raw.trim();
    if (value.size() > longest)
      refuse(String("the ") + limit.what + " \"" + value + "\" is longer than " +
             String(int(longest)) + " characters, more than " + form + " holds");
    const String why = unwritable(raw, pdb);
    if (!why.empty())
      refuse(String("the ") + limit.what + " \"" + raw + "\" " + why + ", which " + form +
             " cannot hold");
  };
  const auto fits = [](const double v, const double lo, const double hi) {
    return v >= lo && v <= hi;
  };
  const Cif_limit &chain_id = *cif_limit("auth_asym_id"), &name = *cif_limit("auth_comp_id"),
                  &ins_code = *cif_limit("pdbx_PDB_ins_code"), &atom_id = *cif_limit("auth_atom_id"),
                  &alt_id = *cif_limit("label_alt_id"), &element = *cif_limit("type_symbol");
  char id[id_buffer_size];
  // A chain's and a residue's ids are checked once, at their first atom.
  const mmdb::Chain* last_chain = nullptr;
  const mmdb::Residue* last_residue = nullptr;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    if (!fault.empty()) return;
    mmdb::Residue* residue = atom->GetResidue();
    mmdb::Chain* chain = atom->GetChain();
    if (chain && chain != last_chain) check(chain->GetChainID(), chain_id, 2);
    last_chain = chain;
    if (residue && residue != last_residue) {
      last_residue = residue;
      check(residue->GetResName(), name, 3);
      check(residue->GetInsCode(), ins_code, 1);
      const int number = residue->GetSeqNum();
      if (pdb && !fits(number, -999, 2436111))
        refuse("the residue number " + String(number) +
               " is outside -999 to 2436111, which the PDB form holds");
      const String code = String(residue->GetInsCode()).trim();
      if (pdb && number > 9999 && !code.empty())
        refuse("the residue number " + String(number) + " with the insertion code \"" + code +
               "\": the PDB form holds no insertion code past 9999");
    }
    if (atom->Ter) return;
    check(atom->name, atom_id, 4);
    check(atom->altLoc, alt_id, 1);
    check(atom->element, element, 2);
    // Columns 8.3 for a position, 6.2 for occupancy and B.
    const mmdb::word set = atom->WhatIsSet;
    if (pdb && !((!(set & mmdb::ASET_Coordinates) ||
                  (fits(atom->x, -999.999, 9999.999) && fits(atom->y, -999.999, 9999.999) &&
                   fits(atom->z, -999.999, 9999.999))) &&
                 (!(set & mmdb::ASET_Occupancy) || fits(atom->occupancy, -99.99, 999.99)) &&
                 (!(set & mmdb::ASET_tempFactor) || fits(atom->tempFactor, -99.99, 999.99))))
      refuse("atom " + String(atom->GetAtomID(id)) +
             ": a number that does not fit the columns of the PDB form");
  });
  return fault;
}

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
    for (int c = 0; c < model->GetNumberOfChains(); ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      if (!chain) continue;
      std::vector<bool> holds_ter;
      std::vector<int> order;
      parts[c] = chain_parts(chain, read_labels, holds_ter, order, continues[c]);
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
    set_model_labels(model, parts, continues, read_labels);
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
