#include "app/validation_run.h"

#include <algorithm>
#include <cctype>
#include <iomanip>
#include <optional>
#include <sstream>
#include <utility>

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
#include "foundation/statistics.h"
#include "model/coordinate_output_labels.h"
#include "model/mmdb_file.h"
#include "model/sequence.h"
#include "mtz/mtz_file.h"
#include "reflections/basis_fn.h"
#include "reflections/conversions.h"
#include "system/gzip_name.h"
#include "system/output_file.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;

// Ignore errors in records other than coordinates, and blank lines.
const int mmdb_read_flags = mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines;

const int n_types = 20;  // residue types with a density target

// The sizes of the fits on the run's road.
constexpr int bulk_scale_params = 12;  // intensity-scale spline of the bulk-solvent fit
constexpr int aniso_params = 7;        // anisotropic scale: overall scale and six tensor terms
constexpr int weight_reflns = 1000, weight_params = 20, weight_phases = 24;
constexpr int sim_bins = 100, sim_centric = 20;  // reference-data simulation

// The observations each data set needs. The simulation pairs figures of
// merit by rank within each of its resolution bins, so every bin needs one
// observation; that is more than the work-phase fits need: the bulk-solvent
// level and its scale spline 13 (one per spline range as well, checked
// apart), the anisotropic scale 7, the weighting's scale and error splines
// at most 2 x 20 over ranges of equal count of the data used, and its
// normalisation splines at most 22 likewise.
constexpr int least_observations =
    std::max({bulk_scale_params + 1, aniso_params, 2 * weight_params, sim_bins});
static_assert(least_observations == sim_bins, "the message names the simulation's bins");
// Below this completeness the run warns.
const double warn_completeness = 0.5;

void read_model(const String& file, MiniMol& model) {
  MMDBfile mmdb;
  mmdb.SetFlag(mmdb_read_flags);
  mmdb.read_file(file);
  mmdb.import_minimol(model, -1);
  if (model.atom_list().empty()) fatal("quelvarn: no atoms in coordinate file " + file);
}

// The target that residue r (not a chain end) of a chain trains, with its
// beta-carbon frame: an amino acid with N, CA and C, peptide-bonded to both
// neighbours.
std::optional<std::pair<int, RTop_orth> > training_site(const MPolymer& chain, const int r) {
  const MMonomer& residue = chain[r];
  const bool bonded = MMonomer::protein_peptide_bond(chain[r - 1], residue, 1.5) &&
                      MMonomer::protein_peptide_bond(residue, chain[r + 1], 1.5);
  const std::optional<Ca_group> group = Ca_group::from_monomer(residue);
  if (!bonded || !group) return std::nullopt;
  const int t = ProteinTools::residue_index(residue.type(), true);
  if (t < 0) return std::nullopt;
  return std::make_pair(t, group->rtop_beta_carbon());
}

// An atom that the structure-factor calculation can use: its occupancy and
// displacement (isotropic or anisotropic) are both given.
bool has_occupancy_and_b(const Atom& atom) {
  const bool b = !atom.u_aniso_orth().is_null() ? !Util::is_nan(atom.u_aniso_orth().mat00())
                                                : !Util::is_nan(atom.u_iso());
  return b && !Util::is_nan(atom.occupancy());
}

// The first of n resolution bins (counted from 1) that holds no reflection
// taken by `observed`, bins being the ranges of equal count of `ordinal`
// over 1/d^2; 0 when none is empty.
template <class Observed>
int empty_bin(const HKL_info& hkls, const Generic_ordinal& ordinal, const int n,
              const Observed& observed) {
  std::vector<int> counts(n, 0);
  for (HRI ih = hkls.first(); !ih.last(); ih.next())
    if (observed(ih)) {
      const int b = int(std::floor(double(n) * ordinal.ordinal(ih.invresolsq())));
      ++counts[Util::bound(0, b, n - 1)];
    }
  for (int b = 0; b < n; ++b)
    if (counts[b] == 0) return b + 1;
  return 0;
}

// Fatal unless a data set holds enough observations for the fits and bins
// of the run; `what` names the set and its observations in the messages.
void check_observations(const String& what, const int count) {
  if (count < least_observations)
    fatal("quelvarn: " + what + ": " + String(count) + ", at least " + String(least_observations) +
          " needed (one in each resolution bin of the reference-data simulation)");
}

void check_bin(const String& what, const int bin, const int bins, const String& fit) {
  if (bin > 0)
    fatal("quelvarn: " + what + ": none in resolution bin " + String(bin) + " of " + String(bins) +
          " of the " + fit);
}

// The monomer with only its main-chain atoms N, CA, C and O, in atom order;
// its properties (its source's path, record kind and TER) stay.
MMonomer main_chain_only(const MMonomer& monomer) {
  MMonomer stripped;
  stripped.copy(monomer, MM::COPY(MM::COPY_MEMBERS | MM::COPY_PROPERTIES));
  for (int a = 0; a < monomer.size(); ++a) {
    const String name = monomer[a].name();
    if (name == " N  " || name == " CA " || name == " C  " || name == " O  ")
      stripped.insert(monomer[a], -1);
  }
  return stripped;
}

// The model the structure factors are calculated from, and which
// -pdbout-wrk writes: under -side-chain-omit its amino acids keep their
// main-chain atoms only.
MiniMol phasing_model(const MiniMol& model, const bool side_chain_omit) {
  MiniMol phasing = model;
  if (side_chain_omit)
    for (int c = 0; c < phasing.size(); ++c)
      for (int r = 0; r < phasing[c].size(); ++r)
        if (ProteinTools::residue_index(phasing[c][r].type(), true) >= 0)
          phasing[c][r] = main_chain_only(phasing[c][r]);
  return phasing;
}

// The form of a written model follows its name: mmCIF for a name ending in
// .cif or .mmcif, in any case, before a gzip ending that has it compressed;
// PDB for any other.
MMDBManager::TYPE written_form(const String& file) {
  String name = Files::without_gzip(file);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  const auto ends_with = [&](const std::string& end) {
    return name.size() >= end.size() &&
           name.compare(name.size() - end.size(), end.size(), end) == 0;
  };
  return ends_with(".cif") || ends_with(".mmcif") ? MMDBManager::CIF : MMDBManager::PDB;
}

}  // namespace

void run_quelvarn(const Run_parameters& params, std::ostream& out) {
  Validation_run(params, out).run();
}

Validation_run::Validation_run(const Run_parameters& params, std::ostream& out)
    : params_(params),
      out_(out),
      outputs_(params.outputs ? params.outputs
                              : std::make_shared<vantrel::Pending_outputs>("quelvarn")) {}

void Validation_run::run() {
  check_outputs();
  read_inputs();
  check_data();
  check_models();
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
  commit_outputs();
  report_chains();
}

void Validation_run::check_outputs() const {
  if (!phases_calculated()) {
    // Nothing is written on the given-phase road: the outputs hold the
    // calculated phases and the model they came from.
    String named;
    if (params_.mtzout_wrk != "NONE") named += " -mtzout-wrk " + params_.mtzout_wrk;
    if (params_.pdbout_wrk != "NONE") named += " -pdbout-wrk " + params_.pdbout_wrk;
    if (!named.empty())
      out_ << "\nWARNING: work phases are given (-colin-wrk-hl), so no output is written:" << named
           << std::endl;
    return;
  }
  for (const String& path : {params_.mtzout_wrk, params_.pdbout_wrk})
    if (path != "NONE") outputs_->add(path);
  outputs_->begin();
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

  // The model phases are calculated from, which -pdbout-wrk writes. One the
  // written form cannot hold is refused now, not after the work (mmCIF
  // holds what PDB does not), by the writer's own check on the library's
  // objects that the write will use.
  if (!phases_calculated()) return;
  mol_phs_ = phasing_model(mol_wrk_, params_.side_chain_omit);
  if (params_.pdbout_wrk != "NONE") {
    model_out_ = std::make_unique<MMDBfile>();
    model_out_->export_minimol(mol_phs_);
    const bool pdb = written_form(params_.pdbout_wrk) == MMDBManager::PDB;
    const String fault = mmdb_internal::output_id_fault(*model_out_, pdb);
    if (!fault.empty())
      fatal("quelvarn: -pdbout-wrk " + params_.pdbout_wrk + ": the work model " +
            params_.pdbin_wrk + " does not fit the " + (pdb ? "PDB" : "mmCIF") + " form: " + fault +
            (pdb ? "; a name ending in .cif or .mmcif writes mmCIF" : ""));
  }
}

void Validation_run::check_data() {
  // Work observations: amplitudes, and with given phases their HL
  // coefficients (calculated phases exist wherever an amplitude does).
  const bool given = !phases_calculated();
  auto work_observed = [&](const HRI& ih) {
    return !wrk_f_[ih].missing() && !(given && wrk_hl_[ih].missing());
  };
  auto reference_observed = [&](const HRI& ih) {
    return !ref_f_[ih].missing() && !ref_hl_[ih].missing();
  };
  int n_wrk = 0, n_ref = 0;
  for (HRI ih = hkls_wrk_.first(); !ih.last(); ih.next()) n_wrk += work_observed(ih);
  for (HRI ih = hkls_ref_.first(); !ih.last(); ih.next()) n_ref += reference_observed(ih);

  const String wrk = given ? "observed work amplitudes with phases" : "observed work amplitudes";
  const String ref = "observed reference amplitudes with phases";
  check_observations(wrk, n_wrk);
  check_observations(ref, n_ref);
  // The simulation's bins are ranges of equal count over each set's own
  // amplitudes, so with the count above none is empty. A work bin may hold
  // centric reflections only (the lowest bin of a small cell does): the
  // reference acentrics of that bin then keep their own figures of merit,
  // too small a part of the map to refuse the run for.
  if (!given) {
    // The bulk-solvent scale spline spans the whole work list.
    Resolution_ordinal ordinal;
    ordinal.init(hkls_wrk_, 1.0);
    check_bin(wrk, empty_bin(hkls_wrk_, ordinal, bulk_scale_params, work_observed),
              bulk_scale_params, "bulk-solvent scale fit");
  }

  const double completeness = double(n_wrk) / hkls_wrk_.num_reflections();
  if (completeness < warn_completeness) {
    std::ostringstream percent;
    percent << std::fixed << std::setprecision(1) << 100.0 * completeness;
    out_ << "\nWARNING: the work data are " << percent.str() << "% complete to "
         << resolution_.limit() << " A (" << n_wrk << " " << wrk << " of "
         << hkls_wrk_.num_reflections() << " reflections); the verdicts rest on fewer data."
         << std::endl;
  }
}

void Validation_run::check_models() const {
  int sites = 0;
  for (int c = 0; c < mol_ref_.size(); ++c)
    for (int r = 1; r + 1 < mol_ref_[c].size(); ++r) sites += bool(training_site(mol_ref_[c], r));
  if (sites == 0)
    fatal(
        "quelvarn: no residue of the reference model can train a density target (an amino"
        " acid with N, CA and C, bonded to both neighbours): " +
        params_.pdbin_ref);
  bool scored = false;
  for (int c = 0; c < mol_wrk_.size() && !scored; ++c)
    scored = Chain_amino_acids(mol_wrk_[c]).sequence.size() >= 2;
  if (!scored)
    out_ << "\nWARNING: no chain of the work model holds two amino-acid residues;"
            " no chain is scored."
         << std::endl;
}

void Validation_run::experimental_phases() {
  HKL_data<Phi_fom<float> > phiw(hkls_wrk_);
  phiw.compute(wrk_hl_, Compute_phifom_from_abcd<float>());
  wrk_fphi_.compute(wrk_f_, phiw, Compute_fphi_from_fsigf_phifom<float>());
}

void Validation_run::structure_factors() {
  const Atom_list atoms = mol_phs_.atom_list();
  const int left_out = int(std::count_if(
      atoms.begin(), atoms.end(), [](const Atom& atom) { return !has_occupancy_and_b(atom); }));
  if (left_out == int(atoms.size()))
    fatal(
        "quelvarn: no atom of the work model is left for the structure-factor calculation"
        " (each needs an occupancy and a B value): " +
        params_.pdbin_wrk);
  if (left_out > 0)
    out_ << "\nWARNING: " << left_out << " of " << atoms.size()
         << " atoms of the work model have no occupancy or B value and are left out of the"
            " structure-factor calculation."
         << std::endl;
  fcalc_.init(hkls_wrk_, hkls_wrk_.cell());
  SFcalc_obs_bulk<float>(bulk_scale_params)(fcalc_, wrk_f_, atoms);
}

void Validation_run::scale_work_data() { SFscale_aniso<float>(0.0)(wrk_f_, fcalc_); }

void Validation_run::weight_work_data() {
  HKL_data<F_phi<float> > fdiff(hkls_wrk_);
  HKL_data<Phi_fom<float> > phiw(hkls_wrk_);
  HKL_data<Flag> usage(hkls_wrk_);
  for (HRI ih = hkls_wrk_.first(); !ih.last(); ih.next())
    usage[ih] = Flag(wrk_f_[ih].missing() ? 0 : 3);
  SFweight_spline<float> weighting;
  weighting.init(weight_reflns, weight_params, weight_phases);
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
  // The MTZ copy is written now, and put in place with the coordinate
  // output once the run has come through its last stage.
  if (params_.mtzout_wrk == "NONE") return;
  CCP4MTZfile mtz;
  mtz.set_pending_outputs(outputs_.get());
  mtz.open_append(params_.mtzin_wrk, params_.mtzout_wrk);
  mtz.export_hkl_data(wrk_fphi_, "/*/*/sideomit");
  mtz.export_hkl_data(wrk_hl_, "/*/*/sideomit");
  mtz.close_append();
}

void Validation_run::commit_outputs() {
  // The coordinate writer refuses a model its form cannot hold (ids too
  // long for PDB) and writes whole or not at all, naming the target; only
  // then are both outputs put in place. The form follows the name.
  if (model_out_)
    model_out_->write_file(params_.pdbout_wrk, written_form(params_.pdbout_wrk), *outputs_);
  outputs_->put_in_place();
}

void Validation_run::simulate_reference() {
  sim_f_.init(hkls_ref_, hkls_ref_.cell());
  sim_hl_.init(hkls_ref_, hkls_ref_.cell());
  // The C library's rand() sequence, never seeded, so that runs repeat.
  C_rand_sequence draws(1);
  MapSimulate(sim_bins, sim_centric)(sim_f_, sim_hl_, ref_f_, ref_hl_, wrk_f_, wrk_hl_, draws);
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
  for (int c = 0; c < mol_ref_.size(); ++c)
    for (int r = 1; r + 1 < mol_ref_[c].size(); ++r)
      if (const auto site = training_site(mol_ref_[c], r))
        targets_[site->first].accumulate(*xmap_, site->second);
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
