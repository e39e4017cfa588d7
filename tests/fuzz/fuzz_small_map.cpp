// Small crystallographic and box maps on grids of any sizes for a group of
// the table: tables, values through symmetry, interpolation at any
// position, and FFTs to and from a short reflection list.
#include <cmath>

#include "fuzz_input.h"
#include "maps/fftmap.h"
#include "maps/interp.h"
#include "maps/nxmap.h"
#include "reflections/hkl_data.h"
#include "symmetry/spacegroup_tables.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel_fuzz::Input in(data, size);
  const int row = in.in_range(0, data::sgdata_size - 1);
  const Grid grid(in.in_range(-2, 30), in.in_range(-2, 30), in.in_range(-2, 30));
  const bool chosen = in.take<std::uint8_t>() & 1;  // a grid chosen for the group, or as given
  const double a = 5.0 + in.in_range(0, 400) / 8.0, dmin = 1.0 + in.in_range(0, 64) / 8.0;
  Coord_map pos[4];
  for (Coord_map& c : pos) c = Coord_map(in.number(), in.number(), in.number());
  const Coord_grid point(in.take<std::int16_t>(), in.take<std::int16_t>(), in.take<std::int16_t>());
  vantrel_fuzz::run([&] {
    const Spacegroup sg{Spgr_descr(data::sgdata[row].hall, Spgr_descr::Hall)};
    const Cell cell{Cell_descr(a, a * 1.1, a * 1.2, 90, 90, 90)};
    Grid_sampling g;
    if (chosen) {
      g.init(sg, cell, Resolution(dmin));
      if (g.size64() > 40000) return;  // small maps
    } else {
      static_cast<Grid&>(g) = grid;
    }
    Xmap<float> map(sg, cell, g);
    int n = 0;
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = float(++n % 7);
    for (const Coord_map& c : pos) {
      float v;
      Interp_linear::interp(map, c, v);
      Interp_cubic::interp(map, c, v);
    }
    map.set_data(point, map.get_data(point) + 1.0f);
    const HKL_info hkls(sg, cell, Resolution(std::max(dmin, 3.0 * a / 30.0)), true);
    HKL_data<datatypes::F_phi<float>> fphi(hkls);
    map.fft_to(fphi);
    map.fft_from(fphi);
    FFTmap fft(sg, cell, g);
  });
  vantrel_fuzz::run([&] {
    NXmap<float> box(grid, RTop<double>::identity());
    box = 1.0f;
    for (const Coord_map& c : pos) {
      float v;
      if (Interp_linear::can_interp(box, c)) Interp_linear::interp(box, c, v);
    }
  });
  return 0;
}
