#include "maps_testing.h"

#include <map>

using namespace vantrel;
using maps_testing::sampling;

namespace {

typedef HKL_data<datatypes::F_phi<float>> Fphi_list;

// One map fixture (tools/make_map_fixtures.py): group, cell, the toolkit's
// grid, unique coefficients and the toolkit's map at the points of its ASU.
struct Map_case {
  std::string name;
  Spacegroup sg;
  Cell cell;
  Grid_sampling grid;
  double dmin = 0.0;
  std::vector<HKL> hkl;
  std::vector<double> f, phi;
  std::vector<Coord_grid> point;
  std::vector<double> rho;
};

Map_case read_case(const std::string& name) {
  std::ifstream in = vantrel_testing::open_fixture("map_" + name + ".txt");
  Map_case c;
  c.name = name;
  std::string word, ops;
  double p[6], f, phi;
  int nu, nv, nw, n, h, k, l;
  std::getline(in, word);  // the comment line
  in >> word >> ops >> word >> p[0] >> p[1] >> p[2] >> p[3] >> p[4] >> p[5] >> word >> nu >> nv >>
      nw >> word >> c.dmin;
  c.sg = Spacegroup(Spgr_descr(ops, Spgr_descr::Symops));
  c.cell = Cell(Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5]));
  c.grid = sampling(nu, nv, nw);
  for (in >> word >> n; n > 0 && in >> h >> k >> l >> f >> phi; --n) {
    c.hkl.push_back(HKL(h, k, l));
    c.f.push_back(f);
    c.phi.push_back(Util::d2rad(phi));
  }
  for (in >> word >> n; n > 0 && in >> h >> k >> l >> f; --n) {
    c.point.push_back(Coord_grid(h, k, l));
    c.rho.push_back(f);
  }
  EXPECT_FALSE(c.point.empty()) << name;
  return c;
}

const std::vector<Map_case>& cases() {
  // the library instance first, so that it outlives the cases' references
  VantrelInstantiator::instance();
  static std::vector<Map_case> all;
  if (all.empty())
    for (const char* n :
         {"c2_5wkd", "p1", "p21c", "p212121", "i41a", "p6122", "r3h", "p213", "ia3", "f23"})
      all.push_back(read_case(n));
  return all;
}

// Every cell point reaches one stored point, whose orbit holds nsym / multiplicity
// points; the index walk visits each stored point once.
void expect_every_cell_point_reaches_one_asu_point(const Xmap_base& map) {
  const Grid_sampling& g = map.grid_sampling();
  std::map<int, int> hits;
  for (Coord_grid c(0, 0, 0); c.u() < g.nu(); c.next(g)) {
    int index, sym;
    map.find_sym(c, index, sym);
    ASSERT_TRUE(map.is_asu_index(index)) << c.format();
    ASSERT_EQ(c.transform(map.isymop(sym)).unit(g), map.coord_of(index)) << c.format();
    hits[index]++;
  }
  int visited = 0;
  for (Xmap_base::Map_reference_index ix = map.first(); !ix.last(); ix.next(), ++visited) {
    ASSERT_EQ(hits.count(ix.index()), 1u) << ix.coord().format();
    EXPECT_EQ(hits[ix.index()] * map.multiplicity(ix.coord()), map.num_sym())
        << ix.coord().format();
  }
  EXPECT_EQ(visited, int(hits.size()));
}

// A coordinate walk steps through every row and back, each step agreeing with
// the lookup; a coordinate cells away reaches the same point as its reduction.
void expect_coord_walks_follow_the_lookup(const Xmap_base& map, std::mt19937& rng) {
  const Grid_sampling& g = map.grid_sampling();
  const auto check = [&](const Xmap_base::Map_reference_coord& r) {
    int index, sym;
    map.find_sym(r.coord(), index, sym);
    ASSERT_EQ(r.index(), index) << r.coord().format();
    ASSERT_EQ(r.coord().transform(map.isymop(r.sym())).unit(g), map.coord_of(r.index()));
  };
  std::uniform_int_distribution<int> pick(-60, 60);
  for (int trial = 0; trial < 5; ++trial) {
    const Coord_grid start(pick(rng), pick(rng), pick(rng));
    Xmap_base::Map_reference_coord r(map, start);
    const int start_index = r.index();
    for (int i = 0; i < g.nu(); ++i) check(r.next_u());
    EXPECT_EQ(r.index(), start_index);
    for (int i = 0; i < g.nv(); ++i) check(r.next_v());
    for (int i = 0; i < g.nw(); ++i) check(r.next_w());
    for (int i = 0; i < g.nw(); ++i) check(r.prev_w());
    for (int i = 0; i < g.nv(); ++i) check(r.prev_v());
    for (int i = 0; i < g.nu(); ++i) check(r.prev_u());
    EXPECT_EQ(r.coord(), start);
    check(r.set_coord(Coord_grid(pick(rng), pick(rng), pick(rng))));
    check(r.set_coord(start + Coord_grid(3 * g.nu(), -2 * g.nv(), 5 * g.nw())));
    EXPECT_EQ(r.index(), start_index);
  }
}

std::complex<double> complex_of(const datatypes::F_phi<float>& fp) {
  return std::polar(double(fp.f()), double(fp.phi()));
}

}  // namespace

// On the toolkit's grids and on the grids the library chooses itself.
TEST(Xmap_base, SymmetryWalksCoverTheAsuOnce) {
  std::mt19937 rng(7);
  for (const Map_case& c : cases()) {
    SCOPED_TRACE(c.name);
    const Xmap<float> map(c.sg, c.cell, c.grid);
    expect_every_cell_point_reaches_one_asu_point(map);
    expect_coord_walks_follow_the_lookup(map, rng);
    expect_every_cell_point_reaches_one_asu_point(
        Xmap<float>(c.sg, c.cell, Grid_sampling(c.sg, c.cell, Resolution(c.dmin))));
  }
}

// The entry is shared whatever the cells, held while a map uses it, freed by a
// purge after, and matched by group hash whatever the generator list.
TEST(Xmap_base, MapsOfOneGroupAndGridShareTables) {
  const Map_case& c = cases()[0];
  ObjectCache<Xmap_cacheobj>& cache = VantrelInstantiator::instance().cache<Xmap_cacheobj>();
  const Xmap<float> a(c.sg, c.cell, c.grid);
  const Xmap<int> b(c.sg, Cell(Cell_descr(40, 5, 15, 90, 100, 90)), c.grid);
  EXPECT_EQ(&a.isymop(0), &b.isymop(0));
  cache.purge();
  const int held = cache.size();
  {
    Xmap<float> c1(c.sg, c.cell, sampling(54, 6, 22)), c2(c1);
    cache.purge();
    EXPECT_EQ(cache.size(), held + 1);
  }
  cache.purge();
  EXPECT_EQ(cache.size(), held);
  const Xmap_cachekey by_ops(c.sg, c.grid);
  const Xmap_cachekey by_hall(Spgr_descr("C 2y", Spgr_descr::Hall), c.grid);
  EXPECT_TRUE(Xmap_cacheobj(by_ops).matches(by_hall));
  EXPECT_FALSE(Xmap_cacheobj(by_ops).matches(Xmap_cachekey(c.sg, sampling(54, 6, 20))));
}

TEST(Xmap, IndexAccessRefusesBorderPointsAndOperatorsWorkOnTheAsu) {
  const Map_case& c = cases()[2];
  Xmap<double> a(c.sg, c.cell, c.grid);
  a = 2.0;
  EXPECT_FALSE(a.set_data(0, 5.0));  // the first storage point is a border point
  EXPECT_FALSE(a.set_data(-1, 5.0));
  const Xmap_base::Map_reference_index first = a.first();
  EXPECT_TRUE(a.set_data(first.index(), 5.0));
  EXPECT_EQ(a.get_data(first.coord()), 5.0);
  Xmap<double> b(c.sg, Cell(Cell_descr(11, 12, 13, 90, 100, 90)), c.grid);  // other cell
  b = 1.5;
  a += b;
  a -= b;
  a += b;
  a.init(c.sg, c.cell, c.grid);  // init again keeps the values
  EXPECT_EQ(a[first], 6.5);
  EXPECT_EQ(a.get_data(Coord_grid(-3, 17, 40)), 3.5);
  EXPECT_EQ(a.get_data(0), 0.0);  // border untouched
  Xmap<double> other(c.sg, c.cell, sampling(10, 12, 16));
  EXPECT_EQ(maps_testing::fatal_text([&] { a += other; }), "Xmap: map mismatch in +=");
  EXPECT_EQ(maps_testing::fatal_text([&] { a -= other; }), "Xmap: map mismatch in -=");
}

class XmapFft : public ::testing::TestWithParam<int> {};

TEST_P(XmapFft, SynthesisEqualsToolkitMapAndTransformsBack) {
  for (const Map_case& c : cases()) {
    SCOPED_TRACE(c.name);
    const HKL_info list(c.sg, c.cell, Resolution(c.dmin), true);
    Fphi_list fphi(list);
    for (size_t i = 0; i < c.hkl.size(); ++i)
      ASSERT_TRUE(fphi.set_data(c.hkl[i], datatypes::F_phi<float>(float(c.f[i]), float(c.phi[i]))));
    Xmap<float> map(c.sg, c.cell, c.grid);
    map.fft_from(fphi, GetParam());
    // the toolkit's ASU points cover every ASU point of the map
    double scale = 0.0;
    for (double r : c.rho) scale = std::max(scale, std::fabs(r));
    std::map<int, int> hits;
    for (size_t i = 0; i < c.point.size(); ++i) {
      ASSERT_NEAR(map.get_data(c.point[i]), c.rho[i], 2e-6 * scale) << c.point[i].format();
      int index, sym;
      map.find_sym(c.point[i], index, sym);
      hits[index]++;
    }
    for (Xmap_base::Map_reference_index ix = map.first(); !ix.last(); ix.next())
      EXPECT_EQ(hits.count(ix.index()), 1u) << "not compared: " << ix.coord().format();
    Fphi_list back(list);
    HKL_data<datatypes::F_phi<double>> back_double(list);
    map.fft_to(back, GetParam());
    map.fft_to(back_double, GetParam());
    double fmax = 0.0;
    for (double f : c.f) fmax = std::max(fmax, f);
    for (HKL_info::HKL_reference_index ih = list.first(); !ih.last(); ih.next()) {
      // entries that were missing come back as zero amplitudes
      const std::complex<double> expect = fphi[ih].missing() ? 0.0 : complex_of(fphi[ih]);
      ASSERT_FALSE(back[ih].missing());
      EXPECT_NEAR(std::abs(complex_of(back[ih]) - expect), 0.0, 1e-5 * fmax) << ih.hkl().format();
      EXPECT_FLOAT_EQ(float(back_double[ih].f()), back[ih].f());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(FullAndSparse, XmapFft, ::testing::Values(1, 2, 0));

TEST(XmapFft, OneReflectionGivesACosineWave) {
  const Cell cell(Cell_descr(20, 24, 30, 80, 100, 110));
  const Spacegroup p1(Spacegroup::P1);
  const HKL_info list(p1, cell, Resolution(4.0), true);
  Fphi_list fphi(list);
  const HKL h(2, -3, 1);
  const double f = 7.0, phi = 0.6;
  ASSERT_TRUE(fphi.set_data(h, datatypes::F_phi<float>(float(f), float(phi))));
  // a missing entry contributes nothing
  ASSERT_TRUE(fphi.set_data(HKL(1, 1, 1), datatypes::F_phi<float>(0.0f, float(Util::nan()))));
  const Grid_sampling g = sampling(12, 16, 18);
  for (int type : {1, 2}) {
    Xmap<float> map(p1, cell, g);
    map.fft_from(fphi, type);
    for (Xmap_base::Map_reference_index ix = map.first(); !ix.last(); ix.next()) {
      const Coord_frac x = ix.coord().coord_frac(g);
      const double hx = h.h() * x.u() + h.k() * x.v() + h.l() * x.w();
      const double expect = 2.0 * f / cell.volume() * std::cos(Util::twopi() * hx - phi);
      ASSERT_NEAR(map[ix], expect, 1e-7) << ix.coord().format();
    }
  }
}
