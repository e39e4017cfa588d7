// Test helpers for scoring real models in calculated density: reading a
// model fixture, the density of a model on its crystal's map, and the twenty
// residue density targets trained on such a map.
#ifndef QUELVARN_TESTS_APP_CALCULATED_DENSITY_H
#define QUELVARN_TESTS_APP_CALCULATED_DENSITY_H

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "app/llk_map_target.h"
#include "app/main_chain.h"
#include "app/protein_tools.h"
#include "calculations/edcalc.h"
#include "model/mmdb_file.h"
#include "support/testing.h"

namespace quelvarn_testing {

//! The first model of a coordinate file in tests/data.
inline vantrel::MiniMol read_model(const std::string& name) {
  vantrel::MMDBfile file;
  file.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  file.read_file(vantrel_testing::fixture_path(name));
  vantrel::MiniMol mol;
  file.import_minimol(mol, -1);
  return mol;
}

//! The density of every atom of the model on a map sampled for 2 A data,
//! each atom blurred by an extra B of 20 A^2 as data near 2 A would be.
inline vantrel::Xmap<float> calculated_map(const vantrel::MiniMol& mol) {
  const vantrel::Grid_sampling grid(mol.spacegroup(), mol.cell(), vantrel::Resolution(2.0), 1.5);
  vantrel::Xmap<float> map(mol.spacegroup(), mol.cell(), grid);
  vantrel::Atom_list atoms = mol.atom_list();
  for (vantrel::Atom& atom : atoms) atom.set_u_iso(atom.u_iso() + 20.0 / vantrel::Util::eightpi2());
  vantrel::EDcalc_iso<float>(3.0)(map, atoms);
  return map;
}

//! Twenty targets (radius 5.5 A, spacing 0.5 A, LLK), one per residue type,
//! trained in the model's calculated density on every residue with N, CA, C
//! and peptide bonds to both neighbours.
inline std::vector<LLK_map_target> trained_targets(const vantrel::MiniMol& mol) {
  const vantrel::Xmap<float> map = calculated_map(mol);
  std::vector<LLK_map_target> targets(20);
  for (LLK_map_target& t : targets) t.init(5.5, 0.5, LLK_map_target::LLK);
  int residues = 0;
  for (int p = 0; p < mol.size(); ++p)
    for (int r = 1; r + 1 < mol[p].size(); ++r) {
      const vantrel::MMonomer& m = mol[p][r];
      const std::optional<Ca_group> group = Ca_group::from_monomer(m);
      const int t = ProteinTools::residue_index(m.type(), true);
      if (!group || t < 0 || !vantrel::MMonomer::protein_peptide_bond(mol[p][r - 1], m, 1.5) ||
          !vantrel::MMonomer::protein_peptide_bond(m, mol[p][r + 1], 1.5))
        continue;
      targets[t].accumulate(map, group->rtop_beta_carbon());
      ++residues;
    }
  for (LLK_map_target& t : targets) t.prep_llk();
  EXPECT_GT(residues, 150);
  return targets;
}

//! The targets trained on 1RX2 (every residue type present), made once.
inline const std::vector<LLK_map_target>& targets_1rx2() {
  static const std::vector<LLK_map_target> targets = trained_targets(read_model("ref_1rx2.pdb"));
  return targets;
}

}  // namespace quelvarn_testing

#endif
