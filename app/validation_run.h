// The run of the quelvarn command in stages: read both structures, derive
// work phases, degrade the reference data, train the density targets on the
// reference map, and score and report every work chain on the work map.
#ifndef QUELVARN_APP_VALIDATION_RUN_H
#define QUELVARN_APP_VALIDATION_RUN_H

#include <iostream>
#include <memory>
#include <vector>

#include "app/llk_map_target.h"
#include "app/run_parameters.h"
#include "maps/xmap.h"
#include "model/minimol.h"
#include "model/mmdb_file.h"
#include "model/sequence.h"
#include "reflections/hkl_data.h"
#include "system/output_file.h"

//! The amino acids of a chain (residues whose three-letter type has a residue
//! index, in chain order) and their one-letter codes, which are also the one
//! candidate sequence, under the id "TEST", that the chain is scored with.
struct Chain_amino_acids {
  explicit Chain_amino_acids(const vantrel::MPolymer& chain);
  vantrel::MPolymer residues;
  vantrel::String sequence;
  vantrel::MMoleculeSequence sequences;
};

//! One run on its parameters; the stages run in declaration order, each
//! once (run() calls them all). Report text goes to out.
/*! Every object of the run is held here; the reflection lists must not
  move while data refer to them, so a run is neither copied nor moved.
  Only one crystallographic map is held at a time. */
class Validation_run {
 public:
  Validation_run(const Run_parameters& params, std::ostream& out);
  Validation_run(const Validation_run&) = delete;
  Validation_run& operator=(const Validation_run&) = delete;

  //! All stages in order; the outputs are put in place only after every
  //! stage that can fail has succeeded, just before the report.
  void run();

  //! Every output that the run will write can be written, and its new
  //! content be made where it would go (fatal otherwise), judged on the
  //! walk of its path that the option check made (or one made now), which
  //! the output keeps to the commit; made before any input is read. With
  //! given phases nothing is written: a warning names the outputs asked.
  void check_outputs() const;

  //! Working resolution (the coarser file limit, never finer than the
  //! option; a warning when the work data are cut to the reference), both
  //! reflection lists with their data, and both models; on the calculated
  //! road also the model phases are calculated from (side chains omitted
  //! as asked), and the one -pdbout-wrk writes, fatal when its form cannot
  //! hold it.
  void read_inputs();
  //! Fatal unless each data set holds enough observations for the fits and
  //! bins that use it (amplitudes with phases, calculated phases aside: at
  //! least 100, one for each bin of the simulation, and on the calculated
  //! road a work amplitude in every range of the bulk-solvent scale); a
  //! warning when the work data are less than half complete.
  void check_data();
  //! Fatal when no reference residue can train a target; a warning when no
  //! work chain can be scored.
  void check_models() const;
  //! Work phases from the work HL coefficients, when given; otherwise, in
  //! the next three stages, from the (optionally side-chain-stripped) model.
  bool phases_calculated() const { return params_.colin_wrk_hl == "NONE"; }
  void experimental_phases();
  //! Structure factors of the phasing model with bulk solvent; atoms
  //! without occupancy or B are left out with a warning, and fatal when
  //! none is left.
  void structure_factors();
  void scale_work_data();   //!< anisotropic scaling of the work amplitudes
  void weight_work_data();  //!< likelihood weighting: map and HL coefficients
  //! The optional MTZ output, written now and put in place with the
  //! coordinate output (commit_outputs).
  void write_outputs();
  //! Reference data degraded to the work data's quality.
  void simulate_reference();
  //! Reference map from the degraded data.
  void reference_map();
  //! The twenty targets trained on the reference map and finalised (a
  //! warning names the residue types without training data); the map is
  //! then released.
  void train_targets();
  //! Work map and the sampled targets.
  void work_map();
  //! The optional coordinate output written, then both outputs put in place.
  void commit_outputs();
  //! Score, align and report every chain of two or more amino acids; then
  //! the closing separator.
  void report_chains();

  const vantrel::Xmap<float>& xmap_work() const { return *xmap_; }
  const std::vector<LLK_map_target::Sampled>& sampled_targets() const { return sampled_; }
  const vantrel::MiniMol& work_model() const { return mol_wrk_; }

 private:
  const Run_parameters params_;
  std::ostream& out_;
  vantrel::Resolution resolution_;
  vantrel::HKL_info hkls_ref_, hkls_wrk_;
  vantrel::HKL_data<vantrel::datatypes::F_sigF<float> > ref_f_, wrk_f_, sim_f_;
  vantrel::HKL_data<vantrel::datatypes::ABCD<float> > ref_hl_, wrk_hl_, sim_hl_;
  vantrel::HKL_data<vantrel::datatypes::F_phi<float> > wrk_fphi_, fcalc_;
  vantrel::MiniMol mol_ref_, mol_wrk_, mol_phs_;
  std::unique_ptr<vantrel::MMDBfile> model_out_;  // the -pdbout-wrk model, when written
  std::vector<LLK_map_target> targets_;
  std::vector<LLK_map_target::Sampled> sampled_;
  std::unique_ptr<vantrel::Xmap<float> > xmap_;
  std::shared_ptr<vantrel::Pending_outputs> outputs_;
};

#endif
