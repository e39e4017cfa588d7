// Whole-model tidying of ProteinTools: gathering fragments by symmetry,
// copying residue types from a reference, placing a chain in its sequence,
// and splitting and naming chains.
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/protein_tools.h"
#include "foundation/message.h"

using vantrel::Coord_frac;
using vantrel::Coord_orth;
using vantrel::MiniMol;
using vantrel::MM;
using vantrel::MMoleculeSequence;
using vantrel::MMonomer;
using vantrel::MPolymer;
using vantrel::RTop_frac;
using vantrel::String;

namespace {

constexpr double peptide_bond_limit = 1.5;   // A, C to the next N
constexpr double same_place_limit_sq = 1.0;  // A^2, CA to CA
constexpr int residues_per_id_pass = 1000;   // numbering block per pass through a-z
const char upper_ids[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char lower_ids[] = "abcdefghijklmnopqrstuvwxyz";

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

// Residues [first, last) of a polymer in fragments: the end of each
// fragment, in order.
std::vector<int> fragment_ends(const MPolymer& pol) {
  std::vector<int> ends;
  for (int r = 0; r < pol.size(); ++r)
    if (r + 1 == pol.size() ||
        !MMonomer::protein_peptide_bond(pol[r], pol[r + 1], peptide_bond_limit))
      ends.push_back(r + 1);
  return ends;
}

// The symmetry operators of a model; a spacegroup without any (the null
// group) acts as P1.
std::vector<RTop_frac> operators_of(const MiniMol& mol) {
  std::vector<RTop_frac> ops;
  for (int k = 0; k < mol.spacegroup().op_count(); ++k) ops.push_back(mol.spacegroup().symop(k));
  if (ops.empty()) ops.push_back(RTop_frac::identity());
  return ops;
}

void require_cell(const MiniMol& mol, const char* caller) {
  if (mol.cell().is_null())
    vantrel::fatal(String("ProteinTools: ") + caller +
                   " - the model has atoms but no cell to move them in");
}

// Mean orthogonal position of the atoms of residues [first, last); false
// when they hold no atom.
bool centroid(const MPolymer& pol, int first, int last, Coord_orth& mean) {
  Coord_orth sum(0.0, 0.0, 0.0);
  int count = 0;
  for (int r = first; r < last; ++r)
    for (int a = 0; a < pol[r].size(); ++a) {
      sum = sum + pol[r][a].coord_orth();
      ++count;
    }
  if (count == 0) return false;
  mean = (1.0 / count) * sum;
  return true;
}

}  // namespace

bool ProteinTools::globularise(MiniMol& mol, Coord_frac centre) {
  const std::vector<RTop_frac> ops = operators_of(mol);
  const vantrel::Cell& cell = mol.cell();
  for (int p = 0; p < mol.size(); ++p) {
    MPolymer& pol = mol[p];
    // All cuts are found before anything moves.
    const std::vector<int> ends = fragment_ends(pol);
    int first = 0;
    for (const int last : ends) {
      Coord_orth mean;
      if (centroid(pol, first, last, mean)) {
        require_cell(mol, "globularise");
        const Coord_frac c = mean.coord_frac(cell);
        double best = 1.0e9;  // A^2: any real image beats it
        int chosen = 0;
        Coord_frac shift(0.0, 0.0, 0.0);
        for (int k = 0; k < int(ops.size()); ++k) {
          const Coord_frac image = ops[k] * c;
          Coord_frac near;
          for (int i = 0; i < 3; ++i) {
            const double d = image[i] - centre[i];
            near[i] = centre[i] + (d - std::rint(d));
          }
          const double dist2 = Coord_frac(near - centre).lengthsq(cell);
          if (dist2 < best) {
            best = dist2;
            chosen = k;
            shift = Coord_frac(near - image);
          }
        }
        for (int r = first; r < last; ++r)
          for (int a = 0; a < pol[r].size(); ++a) {
            vantrel::MAtom& atom = pol[r][a];
            const Coord_frac f = ops[chosen] * atom.coord_orth().coord_frac(cell);
            atom.set_coord_orth(Coord_frac(f + shift).coord_orth(cell));
          }
      }
      first = last;
    }
  }
  return true;
}

bool ProteinTools::globularise(MiniMol& mol) {
  for (int pass = 0; pass < 3; ++pass) {
    Coord_orth sum(0.0, 0.0, 0.0);
    int count = 0;
    for (int p = 0; p < mol.size(); ++p)
      for (int r = 0; r < mol[p].size(); ++r)
        for (int a = 0; a < mol[p][r].size(); ++a) {
          sum = sum + mol[p][r][a].coord_orth();
          ++count;
        }
    if (count == 0) return true;
    require_cell(mol, "globularise");
    globularise(mol, Coord_orth((1.0 / count) * sum).coord_frac(mol.cell()));
  }
  return true;
}

bool ProteinTools::copy_residue_types(MiniMol& mol, const MiniMol& mol_ref) {
  const vantrel::Cell& cell = mol.cell();
  for (int rp = 0; rp < mol_ref.size(); ++rp)
    for (int rr = 0; rr < mol_ref[rp].size(); ++rr) {
      const MMonomer& m = mol_ref[rp][rr];
      const int rca = m.lookup(" CA ", MM::BASE_ID);
      if (rca < 0 || m.type() == "UNK") continue;
      for (int p = 0; p < mol.size(); ++p)
        for (int r = 0; r < mol[p].size(); ++r) {
          MMonomer& n = mol[p][r];
          const int ca = n.lookup(" CA ", MM::BASE_ID);
          if (ca < 0 || n.type() != "UNK") continue;
          require_cell(mol, "copy_residue_types");
          const Coord_frac a = m[rca].coord_orth().coord_frac(cell);
          const Coord_frac b =
              n[ca].coord_orth().coord_frac(cell).symmetry_copy_near(mol.spacegroup(), cell, a);
          if (Coord_frac(b - a).lengthsq(cell) < same_place_limit_sq) n.set_type(m.type());
        }
    }
  return true;
}

std::pair<int, int> ProteinTools::chain_sequence_match(const String& chnseq,
                                                       const MMoleculeSequence& seq) {
  std::vector<String> clean;
  for (int q = 0; q < seq.size(); ++q) clean.push_back(sequence_clean(seq[q].sequence()));
  const int n = int(chnseq.size());
  int n_upper = 0;
  for (const char c : chnseq) n_upper += is_upper(c);
  // More identities than a third of the chain's residues, and at least 5.
  int threshold = n_upper / 3 + 4;
  std::pair<int, int> result(-1, -1);
  for (int q = 0; q < int(clean.size()); ++q) {
    const String& s = clean[q];
    const int L = int(s.size());
    for (int o = threshold - n; o < L - threshold; ++o) {
      int matches = 0;
      for (int j = std::max(0, o); j < std::min(L, n + o); ++j) {
        const char c = s[j];
        matches += c == chnseq[j - o] && is_upper(c);
      }
      if (matches > threshold) {
        threshold = matches;
        result = std::make_pair(q, o);
      }
    }
  }
  return result;
}

bool ProteinTools::chain_renumber(MPolymer& pol, const MMoleculeSequence& seq) {
  const std::pair<int, int> match = chain_sequence_match(chain_sequence(pol), seq);
  if (match.first < 0) return false;
  for (int i = 0; i < pol.size(); ++i) pol[i].set_seqnum(match.second + i + 1, "");
  return true;
}

bool ProteinTools::chain_tidy(MiniMol& mol, const MiniMol& mol_in) {
  // The result is emptied first: work from a copy when both are one model.
  const MiniMol copy = &mol == &mol_in ? mol_in : MiniMol();
  const MiniMol& src = &mol == &mol_in ? copy : mol_in;
  mol = MiniMol(src.spacegroup(), src.cell());

  std::vector<MPolymer> fragments;
  for (int p = 0; p < src.size(); ++p) {
    const MPolymer& pol = src[p];
    int first = 0;
    for (const int last : fragment_ends(pol)) {
      MPolymer frag;
      for (int r = first; r < last; ++r) frag.insert(pol[r], -1);
      fragments.push_back(std::move(frag));
      first = last;
    }
  }
  std::stable_sort(fragments.begin(), fragments.end(),
                   [](const MPolymer& a, const MPolymer& b) { return a.size() > b.size(); });

  for (int c = 0; c < int(fragments.size()); ++c) {
    MPolymer& frag = fragments[c];
    int base = 0;
    if (c < 26) {
      frag.set_id(String(1, upper_ids[c]));
    } else {
      const int i = c - 26;
      frag.set_id(String(1, lower_ids[i % 26]));
      base = residues_per_id_pass * (i / 26);
    }
    for (int r = 0; r < frag.size(); ++r) frag[r].set_seqnum(base + r + 1, "");
    mol.insert(frag, -1);
  }
  return true;
}
