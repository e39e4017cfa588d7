// Run parameters of the quelvarn command: their defaults, the option loop
// that sets them from the command tokens, their validation and the usage
// text.
#ifndef QUELVARN_APP_RUN_PARAMETERS_H
#define QUELVARN_APP_RUN_PARAMETERS_H

#include <iostream>
#include <memory>

#include "app/command_input.h"
#include "foundation/vstring.h"
#include "system/output_file.h"

//! The settings of one run. "NONE" is the absent value of every file name
//! and column path; lengths are in Angstrom.
struct Run_parameters {
  vantrel::String title;
  vantrel::String mtzin_ref = "NONE", pdbin_ref = "NONE";
  vantrel::String mtzin_wrk = "NONE", pdbin_wrk = "NONE";
  vantrel::String colin_ref_fo = "/*/*/FP", colin_ref_hl = "/*/*/FC";
  vantrel::String colin_wrk_fo = "NONE", colin_wrk_hl = "NONE";  // work HL NONE: calculate
  vantrel::String mtzout_wrk = "NONE", pdbout_wrk = "NONE";      // NONE: not written
  double resolution = 1.0;                                       // finest resolution used
  double side_chain_radius = 5.5;  // radius of the residue density targets
  bool side_chain_omit = false;    // phases from the model without side chains
  bool correlation_mode = false;   // targets score by correlation, not likelihood
  //! The outputs' paths, each walked once by the option check; the run
  //! keeps these walks to its commit.
  std::shared_ptr<vantrel::Pending_outputs> outputs;
};

//! The usage text, starting with a newline.
extern const char* const usage_text;

//! Sets params from the tokens (options from token 1 on; a repeated option
//! takes its last value) and checks them: every compulsory option given,
//! numbers that are whole numbers (positive lengths), column paths of the
//! form /crystal/dataset/label (a bracket list as label naming exactly the
//! columns of its data: two for amplitudes, four for HL coefficients), no
//! output file that is also an input, nor two outputs on one file, nor an
//! MTZ output of a gzip name (MTZ files are written uncompressed), nor an
//! output that is where this process's standard output or error goes
//! (links followed; judged on the outputs' walks, which params.outputs
//! then holds; whether each may be written is judged as the run starts).
//! Returns false, after a line on out saying what was wrong (none when
//! there was no argument), when the command cannot run; the caller then
//! gives the usage text.
bool read_options(const CCP4CommandInput& tokens, Run_parameters& params, std::ostream& out);

//! True for a column path of three non-empty parts, each preceded by "/".
bool valid_column_path(const vantrel::String& path);

#endif
