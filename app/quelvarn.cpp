#include "app/quelvarn.h"

#include <exception>

#include "app/ccp4_program.h"
#include "app/command_input.h"
#include "foundation/message.h"

int quelvarn_main(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err,
                  const Quelvarn_run& run, vantrel::String* fates) {
  CCP4Program program("quelvarn", "0.1.0", "$Date: 2007/09/03", out);
  out << "quelvarn checks the sequence assigned to each chain of a protein model\n"
         "against X-ray data, using density targets learned from a reference structure.\n"
      << std::flush;

  Run_parameters params;
  const CCP4CommandInput tokens(argc, argv, true, in, out);
  if (!read_options(tokens, params, out)) {
    out << usage_text << std::flush;
    program.abandon();
    return 1;
  }
  try {
    run(params, out);
  } catch (const vantrel::Message_fatal&) {
    // The message channel has printed the text already.
    program.abandon();
    return 2;
  } catch (const std::exception& e) {
    err << "quelvarn: " << e.what() << std::endl;
    program.abandon();
    return 2;
  }
  if (fates != nullptr && params.outputs) *fates = params.outputs->fates();
  return 0;
}
