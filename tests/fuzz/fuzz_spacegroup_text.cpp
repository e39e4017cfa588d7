// Space-group texts of every kind (the first byte picks it): a text is
// refused, or gives a group whose tables build and answer.
#include "fuzz_input.h"
#include "symmetry/spacegroup.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel_fuzz::Input in(data, size);
  const auto type = Spgr_descr::TYPE(in.take<std::uint8_t>() % 5);
  const String text(in.rest());
  vantrel_fuzz::run([&] {
    const Spacegroup sg{Spgr_descr(text, type)};
    vantrel_fuzz::require(sg.op_count() >= 1 && sg.op_count() <= 192);
    sg.symbol_hm();
    sg.spacegroup_number();
    for (int k = 0; k < sg.op_count(); ++k) sg.symop(k).format();
    for (const HKL& hkl : {HKL(1, 2, 3), HKL(-2, 0, 1), HKL(0, 0, 4)}) {
      sg.hkl_class(hkl);
      sg.recip_asu(hkl);
    }
  });
  return 0;
}
