// Operator texts, alone and as lists: an operator that reads is written and
// read back to itself; a list expands to a group or is refused.
#include "fuzz_input.h"
#include "symmetry/spgr_descr.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const String text(std::string(reinterpret_cast<const char*>(data), size));
  vantrel_fuzz::run([&] {
    const RTop_frac op(text);
    op.inverse();
    const Symop symop(op);
    const Symop back{RTop_frac(symop.format())};
    vantrel_fuzz::require(back.rot() == symop.rot() && back.trn() == symop.trn());
    Symop_code(symop).symop();
  });
  vantrel_fuzz::run([&] {
    Spgr_descr::Symop_codes ops;
    ops.init_symops(text);
    const Spgr_descr::Symop_codes group = ops.expand();
    vantrel_fuzz::require(group.size() >= 1 && group.size() <= 192);
    ops.generator_ops();
  });
  return 0;
}
