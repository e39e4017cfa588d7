#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "symmetry/cell.h"

using namespace vantrel;

namespace {

// Reference values computed by an independent toolkit
// (tools/make_cell_fixtures.py); angles in degrees.
struct Reference {
  double params[6];
  double volume;
  double orth[9], frac[9];
  double real[6], reci[6];  // m00 m11 m22 m01 m02 m12, off-diagonals doubled
  double recip[6];          // a* b* c* alpha* beta* gamma*
};

std::map<std::string, Reference> read_cells() {
  std::map<std::string, Reference> cells;
  std::ifstream in(VANTREL_TEST_DATA "/cells.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string name;
    Reference r;
    s >> name;
    for (double& v : r.params) s >> v;
    s >> r.volume;
    for (double& v : r.orth) s >> v;
    for (double& v : r.frac) s >> v;
    for (double& v : r.real) s >> v;
    for (double& v : r.reci) s >> v;
    for (double& v : r.recip) s >> v;
    EXPECT_FALSE(s.fail()) << line;
    cells[name] = r;
  }
  return cells;
}

Cell make_cell(const Reference& r) {
  const double* p = r.params;
  return Cell(Cell_descr(p[0], p[1], p[2], p[3], p[4], p[5]));
}

// Every value within 1e-12 of the largest magnitude of its group, so that
// elements that are zero by symmetry compare sensibly.
void expect_close(const std::vector<double>& ours, const double* ref, const std::string& what) {
  double scale = 0.0;
  for (size_t i = 0; i < ours.size(); ++i) scale = std::max(scale, std::fabs(ref[i]));
  for (size_t i = 0; i < ours.size(); ++i)
    EXPECT_NEAR(ours[i], ref[i], 1e-12 * scale) << what << " element " << i;
}

std::vector<double> elements(const Mat33<>& m) {
  std::vector<double> v;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) v.push_back(m(i, j));
  return v;
}

std::vector<double> elements(const Metric_tensor& m) {
  return {m.m00(), m.m11(), m.m22(), m.m01(), m.m02(), m.m12()};
}

TEST(Cell, MatchesIndependentToolkit) {
  const std::map<std::string, Reference> cells = read_cells();
  ASSERT_EQ(cells.size(), 9u);
  for (const auto& item : cells) {
    SCOPED_TRACE(item.first);
    const Reference& r = item.second;
    const Cell cell = make_cell(r);
    ASSERT_FALSE(cell.is_null());
    EXPECT_NEAR(cell.volume(), r.volume, 1e-12 * r.volume);
    expect_close(elements(cell.orth_matrix()), r.orth, "orth");
    expect_close(elements(cell.frac_matrix()), r.frac, "frac");
    expect_close(elements(cell.real_metric()), r.real, "real metric");
    expect_close(elements(cell.reci_metric()), r.reci, "reciprocal metric");
    expect_close({cell.a_star(), cell.b_star(), cell.c_star()}, r.recip, "a* b* c*");
    expect_close({Util::rad2d(cell.alpha_star()), Util::rad2d(cell.beta_star()),
                  Util::rad2d(cell.gamma_star())},
                 r.recip + 3, "reciprocal angles");

    const Mat33<>& o = cell.orth_matrix();
    EXPECT_NEAR(o(0, 0) * o(1, 1) * o(2, 2), cell.volume(), 1e-12 * cell.volume());
    EXPECT_TRUE((o * cell.frac_matrix()).equals(Mat33<>::identity(), 1e-14));
  }
}

TEST(Cell, InverseResolutionMatchesIndependentToolkit) {
  const std::map<std::string, Reference> cells = read_cells();
  std::ifstream in(VANTREL_TEST_DATA "/cells_invresolsq.txt");
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    std::string name;
    int h, k, l;
    double invresolsq;
    s >> name >> h >> k >> l >> invresolsq;
    const Cell cell = make_cell(cells.at(name));
    EXPECT_NEAR(cell.reci_metric().squared_length(Vec3<int>(h, k, l)), invresolsq,
                1e-12 * invresolsq)
        << line;
    ++checked;
  }
  EXPECT_EQ(checked, 63);
}

TEST(Cell_descr, AnglesAboveOnePiAreDegrees) {
  const Cell_descr d(10, 20, 30, 90, 90, 90);
  EXPECT_NEAR(d.alpha(), Util::onepi_ / 2, 1e-15);
  EXPECT_NEAR(d.gamma_deg(), 90.0, 1e-12);
  const Cell_descr r(10, 20, 30, 1.5, Util::onepi_, 3.0);  // radians all
  EXPECT_EQ(r.alpha(), 1.5);
  EXPECT_EQ(r.beta(), Util::onepi_);
  EXPECT_EQ(r.gamma(), 3.0);
}

TEST(Cell, CubicCellAndTextForms) {
  const Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_NEAR(cell.volume(), 1000.0, 1e-9);
  EXPECT_TRUE(cell.orth_matrix().equals(Mat33<>(10, 0, 0, 0, 10, 0, 0, 0, 10), 1e-12));
  EXPECT_TRUE(cell.frac_matrix().equals(Mat33<>(0.1, 0, 0, 0, 0.1, 0, 0, 0, 0.1), 1e-14));
  EXPECT_NEAR(cell.a_star(), 0.1, 1e-15);
  EXPECT_NEAR(cell.alpha_star(), Util::onepi_ / 2, 1e-15);
  EXPECT_NEAR(cell.reci_metric().squared_length(Vec3<int>(1, 0, 0)), 0.01, 1e-15);

  EXPECT_EQ(cell.format(), " Cell (    10,    10,    10,    90,    90,    90)");
  EXPECT_EQ(Metric_tensor(1, 2, 3, 1.2, 1.3, Util::onepi_ / 3).format(),
            "m00=     1 m11=     4 m22=     9 m01=     2 m02=1.60499 m12=4.34829");

  std::ostringstream out;
  std::streambuf* saved = std::cout.rdbuf(out.rdbuf());
  cell.debug();
  std::cout.rdbuf(saved);
  const std::string head = " Cell (    10,    10,    10,    90,    90,    90)\nVol1000\nOrth mat\n";
  EXPECT_EQ(out.str().substr(0, head.size()), head);
  EXPECT_NE(out.str().find("\nReci metric m00=  0.01 m11=  0.01"), std::string::npos);
}

TEST(Cell, CellsWithoutVolumeAreNullAndCleared) {
  EXPECT_TRUE(Cell().is_null());

  Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  cell.init(Cell_descr(10, 0, 10, 90, 90, 90));  // zero edge
  EXPECT_TRUE(cell.is_null());
  EXPECT_TRUE(cell.frac_matrix().is_null());
  EXPECT_TRUE(Util::is_nan(cell.reci_metric().m00()));

  // Angles that admit no cell: the volume would be the root of a negative.
  cell.init(Cell_descr(10, 10, 10, 10, 10, 170));
  EXPECT_TRUE(cell.is_null());
  EXPECT_EQ(cell.volume(), 0.0);
  EXPECT_TRUE(cell.orth_matrix().is_null());
  EXPECT_TRUE(Util::is_nan(cell.real_metric().m00()));
  EXPECT_FALSE(cell.equals(cell, 1.0));

  cell.init(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_FALSE(cell.is_null());
}

TEST(Cell, EqualsComparesFractionalisationMatrices) {
  const Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_FALSE(cell.equals(cell, 0.0));
  EXPECT_TRUE(cell.equals(cell, 0.5));
  EXPECT_TRUE(cell.equals(Cell(Cell_descr(10.01, 10, 10, 90, 90, 90)), 0.5));
  EXPECT_FALSE(cell.equals(Cell(Cell_descr(12, 10, 10, 90, 90, 90)), 0.5));
  EXPECT_FALSE(Cell().equals(cell, 0.5));
}

}  // namespace
