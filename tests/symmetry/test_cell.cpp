#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/testing.h"
#include "symmetry/coords.h"

using namespace vantrel;

namespace {

// Rows of a fixture made by tools/make_cell_fixtures.py: a name, then numbers.
std::vector<std::pair<std::string, std::vector<double>>> read_rows(const std::string& file) {
  std::vector<std::pair<std::string, std::vector<double>>> rows;
  std::ifstream in = vantrel_testing::open_fixture(file);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    rows.emplace_back();
    s >> rows.back().first;
    for (double v; s >> v;) rows.back().second.push_back(v);
  }
  return rows;
}

// Within 1e-12 of the largest reference magnitude, so zeros by symmetry compare sensibly.
void expect_close(const std::vector<double>& ours, const double* ref, const char* what) {
  double scale = 0.0;
  for (size_t i = 0; i < ours.size(); ++i) scale = std::max(scale, std::fabs(ref[i]));
  for (size_t i = 0; i < ours.size(); ++i)
    EXPECT_NEAR(ours[i], ref[i], 1e-12 * scale) << what << " element " << i;
}

std::vector<double> elements(const Mat33<>& m) {
  return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

std::vector<double> elements(const Metric_tensor& m) {
  return {m.m00(), m.m11(), m.m22(), m.m01(), m.m02(), m.m12()};
}

// cells.txt: a b c alpha beta gamma (deg), volume, orth[9], frac[9], real and
// reciprocal metric[6], a* b* c* alpha* beta* gamma*; then h k l 1/d^2 rows.
TEST(Cell, MatchesIndependentToolkit) {
  std::map<std::string, Cell> cells;
  for (const auto& row : read_rows("cells.txt")) {
    SCOPED_TRACE(row.first);
    const double* r = row.second.data();
    ASSERT_EQ(row.second.size(), 43u);
    const Cell cell(Cell_descr(r[0], r[1], r[2], r[3], r[4], r[5]));
    ASSERT_FALSE(cell.is_null());
    EXPECT_NEAR(cell.volume(), r[6], 1e-12 * r[6]);
    expect_close(elements(cell.orth_matrix()), r + 7, "orth");
    expect_close(elements(cell.frac_matrix()), r + 16, "frac");
    expect_close(elements(cell.real_metric()), r + 25, "real metric");
    expect_close(elements(cell.reci_metric()), r + 31, "reciprocal metric");
    expect_close({cell.a_star(), cell.b_star(), cell.c_star()}, r + 37, "a* b* c*");
    expect_close({Util::rad2d(cell.alpha_star()), Util::rad2d(cell.beta_star()),
                  Util::rad2d(cell.gamma_star())},
                 r + 40, "reciprocal angles");
    cells.emplace(row.first, cell);
  }
  EXPECT_EQ(cells.size(), 9u);
  const auto hkls = read_rows("cells_invresolsq.txt");
  EXPECT_EQ(hkls.size(), 63u);
  for (const auto& row : hkls) {
    const std::vector<double>& r = row.second;
    const HKL h{int(r[0]), int(r[1]), int(r[2])};
    EXPECT_NEAR(h.invresolsq(cells.at(row.first)), r[3], 1e-12 * r[3]) << row.first;
  }
}

TEST(Cell_descr, AnglesAboveOnePiAreDegrees) {
  const Cell_descr d(10, 20, 30, 90, 90, 90);
  EXPECT_NEAR(d.alpha(), Util::onepi_ / 2, 1e-15);
  EXPECT_NEAR(d.gamma_deg(), 90.0, 1e-12);
  const Cell_descr r(10, 20, 30, 1.5, Util::onepi_, 3.0);  // radians all
  EXPECT_EQ(r.alpha(), 1.5);
  EXPECT_EQ(r.beta(), Util::onepi_);
}

TEST(Cell, TextForms) {
  const Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_EQ(cell.format(), " Cell (    10,    10,    10,    90,    90,    90)");
  EXPECT_EQ(Metric_tensor(1, 2, 3, 1.2, 1.3, Util::onepi_ / 3).format(),
            "m00=     1 m11=     4 m22=     9 m01=     2 m02=1.60499 m12=4.34829");
  testing::internal::CaptureStdout();
  cell.debug();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind(cell.format() + "\nVol1000\nOrth mat\n", 0), 0u);
  EXPECT_NE(out.find("\nReci metric m00=  0.01 m11=  0.01"), std::string::npos);
}

// A cell with no positive volume is null and its derived fields are cleared.
TEST(Cell, NullnessAndEquality) {
  EXPECT_TRUE(Cell().is_null());
  Cell cell(Cell_descr(10, 10, 10, 90, 90, 90));
  cell.init(Cell_descr(10, 0, 10, 90, 90, 90));  // zero edge
  EXPECT_TRUE(cell.is_null() && cell.frac_matrix().is_null());
  EXPECT_TRUE(Util::is_nan(cell.reci_metric().m00()));
  cell.init(Cell_descr(10, 10, 10, 10, 10, 170));  // angles that admit no cell
  EXPECT_TRUE(cell.is_null() && cell.volume() == 0.0 && cell.orth_matrix().is_null());
  EXPECT_TRUE(Util::is_nan(cell.real_metric().m00()));
  EXPECT_FALSE(cell.equals(cell, 1.0));
  cell.init(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_FALSE(cell.is_null());
  // equality compares fractionalisation matrices
  EXPECT_FALSE(cell.equals(cell, 0.0));
  EXPECT_TRUE(cell.equals(Cell(Cell_descr(10.01, 10, 10, 90, 90, 90)), 0.5));
  EXPECT_FALSE(cell.equals(Cell(Cell_descr(12, 10, 10, 90, 90, 90)), 0.5));
  EXPECT_FALSE(Cell().equals(cell, 0.5));
}

}  // namespace
