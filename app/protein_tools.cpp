#include "app/protein_tools.h"

using vantrel::String;

const char ProteinTools::rtype3[ProteinTools::ntype][4] = {
    "ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU",
    "LYS", "MET", "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL", "MSE"};
const char ProteinTools::rtype1[ProteinTools::ntype + 1] = "ARNDCQEGHILKMFPSTWYVM";

namespace {
constexpr int mse_index = 20;
constexpr int met_index = 12;
}  // namespace

int ProteinTools::residue_index(String name, bool mse_is_met) {
  int index = -1;
  if (name.size() == 3) {
    for (int t = 0; t < ntype && index < 0; ++t)
      if (name.compare(0, 3, rtype3[t], 3) == 0) index = t;
  } else if (name.size() == 1) {
    for (int t = 0; t < ntype && index < 0; ++t)
      if (name[0] == rtype1[t]) index = t;
  }
  if (mse_is_met && index == mse_index) index = met_index;
  return index;
}

String ProteinTools::residue_code_1(int index) {
  if (unsigned(index) > unsigned(ntype - 1)) return String();
  return String(1, rtype1[index]);
}

String ProteinTools::residue_code_3(int index) {
  if (unsigned(index) > unsigned(ntype - 1)) return String();
  return String(rtype3[index]);
}

String ProteinTools::residue_code(String name, bool mse_is_met) {
  const int index = residue_index(name, mse_is_met);
  if (name.size() == 1) return residue_code_3(index);
  if (name.size() == 3) return residue_code_1(index);
  return String();
}

String ProteinTools::chain_sequence(const vantrel::MPolymer& chain) {
  String seq;
  seq.reserve(std::size_t(chain.size()));
  for (int r = 0; r < chain.size(); ++r) {
    const String& type = chain[r].type();
    if (type == "+++") {
      seq += '+';
    } else if (type == "---") {
      seq += '-';
    } else {
      const int t = residue_index(type, true);
      seq += t < 0 ? String("?") : residue_code_1(t);
    }
  }
  return seq;
}

String ProteinTools::sequence_clean(const String& text) {
  String clean;
  clean.reserve(text.size());
  for (const char c : text) clean += residue_code_1(residue_index(String(1, c), true));
  return clean;
}
