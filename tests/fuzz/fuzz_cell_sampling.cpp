// Cells, resolutions and rates, with a group of the table: samplings of the
// map grid and of reciprocal space, index limits and small reflection lists.
#include <cmath>

#include "fuzz_input.h"
#include "reflections/hkl_info.h"
#include "symmetry/spacegroup_tables.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel_fuzz::Input in(data, size);
  const int row = in.in_range(0, data::sgdata_size - 1);
  double p[6];
  for (double& v : p) v = in.number();
  const Resolution res(in.number());
  const double rate = in.number(), radius = in.number();
  vantrel_fuzz::run([&] {
    const Cell cell{Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5])};
    vantrel_fuzz::require(cell.is_null() || (std::isfinite(cell.volume()) && cell.volume() > 0.0));
    const Spacegroup sg{Spgr_descr(data::sgdata[row].hall, Spgr_descr::Hall)};
    vantrel_fuzz::run([&] {
      const Grid_sampling grid(sg, cell, res, rate);
      vantrel_fuzz::require(grid.is_null() || grid.suits(sg));
      if (!grid.is_null() && !cell.is_null()) Grid_range(cell, grid, radius);
    });
    vantrel_fuzz::run([&] {
      const HKL_sampling sampling(cell, res);
      if (sampling.is_null()) return;
      const HKL lim = sampling.hkl_limit();
      vantrel_fuzz::require(lim.h() >= 0 && lim.k() >= 0 && lim.l() >= 0);
      // Small boxes only: the work of larger ones is what the limits bound.
      if (double(2 * lim.h() + 1) * (2 * lim.k() + 1) * (2 * lim.l() + 1) < 2e5) {
        sampling.resolution(cell);
        HKL_info().init(sg, cell, sampling, true);
      }
    });
    vantrel_fuzz::run([&] {
      if (cell.is_null() || !(res.limit() > 0.0)) return;
      const double box = (2 * cell.a() / res.limit() + 1) * (2 * cell.b() / res.limit() + 1) *
                         (2 * cell.c() / res.limit() + 1);
      if (box < 2e5) HKL_info(sg, cell, res, true).num_reflections();
    });
  });
  return 0;
}
