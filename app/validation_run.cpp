#include "app/validation_run.h"

#include <algorithm>
#include <optional>

#include "app/ca_sequence.h"
#include "app/chain_report.h"
#include "app/main_chain.h"
#include "app/map_simulate.h"
#include "app/protein_tools.h"
#include "app/quelvarn.h"
#include "calculations/sfcalc_obs.h"
#include "calculations/sfscale.h"
#include "calculations/sfweight.h"
#include "foundation/message.h"
#include "model/mmdb_file.h"
#include "model/sequence.h"
#include "mtz/mtz_file.h"
#include "reflections/conversions.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;

// Ignore errors in records other than coordinates, and blank lines.
const int mmdb_read_flags = mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines;

const int n_types = 20;  // residue types with a density target

void read_model(const String& file, MiniMol& model) {
  MMDBfile mmdb;
  mmdb.SetFlag(mmdb_read_flags);
  mmdb.read_file(file);
  mmdb.import_minimol(model, -1);
}

// The monomer with only its main-chain atoms N, CA, C and O, in atom order.
MMonomer main_chain_only(const MMonomer& monomer) {
  MMonomer stripped;
  stripped.set_id(monomer.id());
  stripped.set_type(monomer.type());
  for (int a = 0; a < monomer.size(); ++a) {
    const String name = monomer[a].name();
    if (name == " N  " || name == " CA " || name == " C  " || name == " O  ")
      stripped.insert(monomer[a], -1);
  }
  return stripped;
}

}  // namespace

void run_quelvarn(const Run_parameters& params, std::ostream& out) {
  Validation_run(params, out).run();
}

Validation_run::Validation_run(const Run_parameters& params, std::ostream& out)
    : params_(params), out_(out) {}

void Validation_run::run() {
  read_inputs();
  if (phases_calculated()) {
    structure_factors();
    scale_work_data();
    weight_work_data();
    write_outputs();
  } else {
    experimental_phases();
  }
  simulate_reference();
  reference_map();
  train_targets();
  work_map();
  report_chains();
}

void Validation_run::read_inputs() {
  // Both headers are read before either file's rows: the common resolution
  // limit decides the reflection lists.
  CCP4MTZfile mtz_ref, mtz_wrk;
  mtz_ref.open_read(params_.mtzin_ref);
  mtz_wrk.open_read(params_.mtzin_wrk);
  const double r_ref = std::max(mtz_ref.resolution().limit(), params_.resolution);
  const double r_wrk = std::max(mtz_wrk.resolution().limit(), params_.resolution);
  resolution_ = Resolution(std::max(r_ref, r_wrk));
  if (r_ref > r_wrk)
    out_ << "\nWARNING: resolution of work structure truncated to reference:\n Ref: " << r_ref
         << " Wrk: " << r_wrk << std::endl;

  hkls_ref_.init(mtz_ref.spacegroup(), mtz_ref.cell(), resolution_, true);
  ref_f_.init(hkls_ref_, hkls_ref_.cell());
  ref_hl_.init(hkls_ref_, hkls_ref_.cell());
  mtz_ref.import_hkl_data(ref_f_, params_.colin_ref_fo);
  mtz_ref.import_hkl_data(ref_hl_, params_.colin_ref_hl);
  mtz_ref.close_read();

  hkls_wrk_.init(mtz_wrk.spacegroup(), mtz_wrk.cell(), resolution_, true);
  wrk_f_.init(hkls_wrk_, hkls_wrk_.cell());
  wrk_fphi_.init(hkls_wrk_, hkls_wrk_.cell());
  wrk_hl_.init(hkls_wrk_, hkls_wrk_.cell());
  mtz_wrk.import_hkl_data(wrk_f_, params_.colin_wrk_fo);
  if (!phases_calculated()) mtz_wrk.import_hkl_data(wrk_hl_, params_.colin_wrk_hl);
  mtz_wrk.close_read();

  // The work model takes the work data's crystal, whatever its file says.
  read_model(params_.pdbin_ref, mol_ref_);
  mol_wrk_.init(hkls_wrk_.spacegroup(), hkls_wrk_.cell());
  MiniMol file_model;
  read_model(params_.pdbin_wrk, file_model);
  mol_wrk_.copy(file_model, MM::COPY(MM::COPY_MEMBERS | MM::COPY_PROPERTIES | MM::COPY_CHILDREN));
}

void Validation_run::experimental_phases() {
  HKL_data<Phi_fom<float> > phiw(hkls_wrk_);
  phiw.compute(wrk_hl_, Compute_phifom_from_abcd<float>());
  wrk_fphi_.compute(wrk_f_, phiw, Compute_fphi_from_fsigf_phifom<float>());
}

void Validation_run::structure_factors() {
  mol_phs_ = mol_wrk_;
  if (params_.side_chain_omit)
    for (int c = 0; c < mol_phs_.size(); ++c)
      for (int r = 0; r < mol_phs_[c].size(); ++r)
        if (ProteinTools::residue_index(mol_phs_[c][r].type(), true) >= 0)
          mol_phs_[c][r] = main_chain_only(mol_phs_[c][r]);
  fcalc_.init(hkls_wrk_, hkls_wrk_.cell());
  SFcalc_obs_bulk<float>(12)(fcalc_, wrk_f_, mol_phs_.atom_list());
}

void Validation_run::scale_work_data() { SFscale_aniso<float>(0.0)(wrk_f_, fcalc_); }

void Validation_run::weight_work_data() {
  HKL_data<F_phi<float> > fdiff(hkls_wrk_);
  HKL_data<Phi_fom<float> > phiw(hkls_wrk_);
  HKL_data<Flag> usage(hkls_wrk_);
  for (HRI ih = hkls_wrk_.first(); !ih.last(); ih.next())
    usage[ih] = Flag(wrk_f_[ih].missing() ? 0 : 3);
  SFweight_spline<float> weighting;
  weighting.init(1000, 20, 24);
  const bool converged = weighting(wrk_fphi_, fdiff, phiw, wrk_f_, fcalc_, usage);
  // Without convergence the weighting still leaves coefficients from its
  // last parameters, which are usable; none at all would give an empty map.
  if (phiw.num_obs() == 0)
    fatal(
        "quelvarn: the likelihood weighting of the work data gave no phases;"
        " check the work amplitudes (-colin-wrk-fo)");
  if (!converged)
    out_ << "\nWARNING: the likelihood weighting of the work data did not converge;"
            " its last estimates are used."
         << std::endl;
  wrk_hl_.compute(phiw, Compute_abcd_from_phifom<float>());
}

void Validation_run::write_outputs() {
  if (params_.mtzout_wrk != "NONE") {
    CCP4MTZfile mtz;
    mtz.open_append(params_.mtzin_wrk, params_.mtzout_wrk);
    mtz.export_hkl_data(wrk_fphi_, "/*/*/sideomit");
    mtz.export_hkl_data(wrk_hl_, "/*/*/sideomit");
    mtz.close_append();
  }
  if (params_.pdbout_wrk != "NONE") {
    MMDBfile mmdb;
    mmdb.export_minimol(mol_phs_);
    mmdb.write_file(params_.pdbout_wrk, MMDBManager::AS_READ);
  }
}

void Validation_run::simulate_reference() {
  sim_f_.init(hkls_ref_, hkls_ref_.cell());
  sim_hl_.init(hkls_ref_, hkls_ref_.cell());
  // The C library's rand() sequence, never seeded, so that runs repeat.
  C_rand_sequence draws(1);
  MapSimulate(100, 20)(sim_f_, sim_hl_, ref_f_, ref_hl_, wrk_f_, wrk_hl_, draws);
}

void Validation_run::reference_map() {
  HKL_data<Phi_fom<float> > ref_phi(hkls_ref_);
  ref_phi.compute(sim_hl_, Compute_phifom_from_abcd<float>());
  HKL_data<F_phi<float> > ref_fphi(hkls_ref_);
  ref_fphi.compute(sim_f_, ref_phi, Compute_fphi_from_fsigf_phifom<float>());
  const Grid_sampling grid(hkls_ref_.spacegroup(), hkls_ref_.cell(), resolution_, 1.5);
  xmap_.reset(new Xmap<float>(hkls_ref_.spacegroup(), hkls_ref_.cell(), grid));
  xmap_->fft_from(ref_fphi);
}

void Validation_run::train_targets() {
  const LLK_map_target::TYPE type =
      params_.correlation_mode ? LLK_map_target::CORREL : LLK_map_target::LLK;
  targets_.assign(n_types, LLK_map_target());
  for (LLK_map_target& target : targets_) target.init(params_.side_chain_radius, 0.5, type);

  // Every residue with N, CA and C, bonded to both neighbours, trains the
  // target of its type in its beta-carbon frame.
  for (int c = 0; c < mol_ref_.size(); ++c) {
    const MPolymer& chain = mol_ref_[c];
    for (int r = 1; r + 1 < chain.size(); ++r) {
      const MMonomer& residue = chain[r];
      const bool bonded = MMonomer::protein_peptide_bond(chain[r - 1], residue, 1.5) &&
                          MMonomer::protein_peptide_bond(residue, chain[r + 1], 1.5);
      const std::optional<Ca_group> group = Ca_group::from_monomer(residue);
      if (!bonded || !group) continue;
      const int t = ProteinTools::residue_index(residue.type(), true);
      if (t < 0) continue;
      targets_[t].accumulate(*xmap_, group->rtop_beta_carbon());
    }
  }
  String untrained;
  for (int t = 0; t < n_types; ++t) {
    if (targets_[t].count() == 0) untrained += " " + ProteinTools::residue_code_3(t);
    targets_[t].prep_llk();
  }
  if (!untrained.empty())
    out_ << "\nWARNING: no training data in the reference model for residue types:" << untrained
         << std::endl;
  xmap_.reset();
}

void Validation_run::work_map() {
  const Grid_sampling grid(hkls_wrk_.spacegroup(), hkls_wrk_.cell(), resolution_, 1.5);
  xmap_.reset(new Xmap<float>(hkls_wrk_.spacegroup(), hkls_wrk_.cell(), grid));
  xmap_->fft_from(wrk_fphi_);
  sampled_.clear();
  for (const LLK_map_target& target : targets_) sampled_.push_back(target.fine());
}

Chain_amino_acids::Chain_amino_acids(const MPolymer& chain) {
  for (int r = 0; r < chain.size(); ++r) {
    const int t = ProteinTools::residue_index(chain[r].type(), true);
    if (chain[r].type().size() != 3 || t < 0) continue;
    sequence += ProteinTools::residue_code_1(t);
    residues.insert(chain[r], -1);
  }
  MPolymerSequence record;
  record.set_id("TEST");
  record.set_sequence(sequence);
  sequences.insert(record, -1);
}

void Validation_run::report_chains() {
  for (int c = 0; c < mol_wrk_.size(); ++c) {
    const Chain_amino_acids chain(mol_wrk_[c]);
    if (chain.sequence.size() < 2) continue;
    const Score_list<String> result =
        Ca_sequence::sequence_chain(chain.residues, *xmap_, sampled_, chain.sequences);
    chain_report(out_, mol_wrk_[c].id(), chain.residues, result);
  }
  out_ << std::endl << std::string(72, '-') << std::endl;
}
