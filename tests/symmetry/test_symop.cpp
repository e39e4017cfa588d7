#include <gtest/gtest.h>

#include "foundation/message.h"
#include "support/testing.h"
#include "symmetry/spacegroup.h"
#include "symmetry/symop.h"

using namespace vantrel;

namespace {

Symop shifted(const Vec3<double>& t) { return Symop(RTop<double>(Mat33<double>::identity(), t)); }

}  // namespace

// Every toolkit operator (columns: text, decimal text, rotation, translation in
// 24ths, code) read as text, through the code and back, and written again.
TEST(SymopFixture, RoundTripsOverEveryToolkitOperator) {
  std::ifstream in = vantrel_testing::open_fixture("symops_all.tsv");
  int count = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<String> col = String(line).split("\t");
    const std::vector<String> r = col.at(2).split(","), t = col.at(3).split(",");
    const int code_ref = col.at(4).i();
    Mat33<int> rot;
    Vec3<int> trn24;
    for (int k = 0; k < 9; ++k) rot(k / 3, k % 3) = r.at(k).i();
    for (int i = 0; i < 3; ++i) trn24[i] = t.at(i).i();
    SCOPED_TRACE(col[0]);
    const auto expect_op = [&](const RTop<double>& op) {
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) EXPECT_EQ(op.rot()(i, j), rot(i, j));
        EXPECT_NEAR(op.trn()[i], trn24[i] / 24.0, 1e-12);
      }
    };
    const Symop symop{RTop_frac(col[0])};
    expect_op(symop);
    expect_op(Symop(RTop_frac(col[1])));
    const Symop_code code(symop);
    EXPECT_EQ(int(code), code_ref);
    expect_op(code.symop());
    const Isymop isym = code.isymop();
    EXPECT_TRUE(isym.rot() == rot && isym.trn() == trn24);
    EXPECT_EQ(int(Symop_code(isym)), code_ref);
    const Symop rot_only = code.code_rot().symop(), trn_only = code.code_trn().symop();
    EXPECT_TRUE(rot_only.rot() == symop.rot() && rot_only.trn() == Vec3<double>::zero());
    EXPECT_TRUE(trn_only.rot() == Mat33<double>::identity() && trn_only.trn() == symop.trn());
    // format() writes the toolkit's text with ", " between the rows
    String spaced;
    for (const String& row : col[0].split(",")) spaced += (spaced.empty() ? "" : ", ") + row;
    EXPECT_EQ(symop.format(), spaced);
    EXPECT_EQ(int(Symop_code(Symop(RTop_frac(symop.format())))), code_ref);
    ++count;
  }
  EXPECT_GT(count, 800);
}

TEST(RTopFracText, ParsingAndWriting) {
  const auto text = [](const char* s) { return Symop(RTop_frac(String(s))).format(); };
  EXPECT_EQ(text("X , Y , Z"), "x, y, z");
  EXPECT_EQ(text("1/2-x,-y,z"), "-x+1/2, -y, z");
  EXPECT_EQ(text("-x-1/4,y,z"), "-x+3/4, y, z");
  EXPECT_DOUBLE_EQ(RTop_frac(String("-x-1/4,y,z")).trn()[0], -0.25);
  EXPECT_EQ(text("2*x,y,z"), "2x, y, z");
  EXPECT_EQ(text("x+x,y,z"), "x, y, z");  // the later term on an axis wins
  EXPECT_EQ(text("x,,y,z"), "x, y, z");   // empty fields are dropped
  // decimal numbers keep their point
  EXPECT_DOUBLE_EQ(RTop_frac(String("x+0.5,y,z")).trn()[0], 0.5);
  EXPECT_EQ(text("-x+.25, 0.75-y, z-1.5"), "-x+1/4, -y+3/4, z+1/2");
  EXPECT_DOUBLE_EQ(RTop_frac(String("0.5*x,y,z")).rot()(0, 0), 0.5);
  // an all-zero row is written "0" and reads back as the same row
  const Mat33<double> flat(1, 0, 0, 0, 0, 0, 0, 0, 1);
  const Symop proj(RTop<double>(flat, Vec3<double>::zero()));
  EXPECT_EQ(proj.format(), "x, 0, z");
  EXPECT_TRUE(RTop_frac(proj.format()).rot().equals(flat, 0.0));
  EXPECT_EQ(Symop(RTop<double>(flat, Vec3<double>(0, 0.5, 0))).format(), "x, 1/2, z");
  // translations are written as held, in 48ths, and read back unchanged
  EXPECT_EQ(shifted(Vec3<double>(1.0 / 48, 0, 0)).format(), "x+1/48, y, z");
  for (const char* held : {"x, y, z+1/16", "x+1/3, y+5/6, z+3/8"}) EXPECT_EQ(text(held), held);
  vantrel_testing::Quiet_messages quiet;  // a wrong field count is fatal
  for (const char* bad : {"x,y", "x,y,z,x", ""})
    EXPECT_THROW(RTop_frac(String(bad)), Message_fatal);
  EXPECT_NE(quiet.text().find("RTop_frac: invalid string:x,y\n"), std::string::npos);
}

// Translations snap to 48ths with ties to even, reduced into [0, 1).
TEST(SymopSnapping, TranslationsRotationsAndCodes) {
  const double cases[][2] = {{-0.5, 0.5},           {1.0, 0.0},      {25.0 / 24, 1.0 / 24},
                             {0.3, 14.0 / 48},      {0.5 / 48, 0.0}, {1.5 / 48, 2.0 / 48},
                             {-1.0 / 48, 47.0 / 48}};
  for (const auto& c : cases)
    EXPECT_DOUBLE_EQ(shifted(Vec3<double>(c[0], 0, 0)).trn()[0], c[1]) << c[0];
  const Symop rounded(
      RTop<double>(Mat33<double>(0.5, 1.5, -0.5, 0.9, -1.2, 2.5, 0, 0, 1), Vec3<double>::zero()));
  EXPECT_TRUE(rounded.rot() == Mat33<double>(0, 2, 0, 1, -1, 2, 0, 0, 1));
  const double mat[4][4] = {{0.9, 0, 0, -0.25}, {0, 1, 0, 1.5}, {0, 0, 1, 2.0 / 3.0}, {7, 7, 7, 7}};
  const Symop m(mat);
  EXPECT_DOUBLE_EQ(m.rot()(0, 0), 0.9);  // copied without rounding
  EXPECT_TRUE(m.trn() == Vec3<double>(0.75, 0.5, 32.0 / 48.0));
  const auto along_z = [](double t) { return shifted(Vec3<double>(0, 0, t)); };
  const Grid g24(24, 24, 24);
  EXPECT_EQ(Isymop(along_z(-0.25), g24).trn()[2], 18);
  EXPECT_EQ(int(Symop_code(along_z(1.0 / 48.0))), 0);        // 0.5 -> 0
  EXPECT_EQ(int(Symop_code(along_z(3.0 / 48.0))), 2 * 576);  // 1.5 -> 2
  // 47/48 gives 23.5 -> 24, the grid size, which the code folds to 0
  EXPECT_EQ(Isymop(along_z(47.0 / 48.0), g24).trn()[2], 24);
  EXPECT_EQ(int(Symop_code(along_z(47.0 / 48.0))), 0);
  // on another grid the translation counts its steps
  const Isymop on_map(Symop(RTop_frac(String("-x,y+1/2,-z+1/3"))), Grid(10, 16, 30));
  EXPECT_TRUE(on_map.trn() == Vec3<int>(0, 8, 10));
  EXPECT_TRUE(on_map.rot() == Mat33<int>(-1, 0, 0, 0, 1, 0, 0, 0, -1));
  // a rotation element outside -1..1 has no code: it would wrap onto
  // another operator's, or overflow
  const Vec3<int> zero(0, 0, 0);
  EXPECT_EQ(vantrel_testing::fatal_text(
                [&] { Symop_code(Isymop(Mat33<int>(2, 0, 0, 0, 1, 0, 0, 0, 1), zero)); }),
            "Symop_code: rotation element outside -1..1 in operator (2 0 0; 0 1 0; 0 0 1)");
  const Mat33<double> huge(1, 0, 0, 0, -2147483647.0, 0, 0, 0, 1);
  EXPECT_EQ(vantrel_testing::fatal_text([&] { Symop(RTop<double>(huge, Vec3<double>::zero())); }),
            "Symop: operator element not finite or out of range");
}

// A hexagonal threefold screw is orthonormal in the orthogonal frame and converts back.
TEST(RTopFrac, NullAndOrthogonalFrame) {
  EXPECT_TRUE(RTop_frac::null().is_null());
  const Cell cell(Cell_descr(52.0, 52.0, 91.0, 90.0, 90.0, 120.0));
  const RTop_frac op(String("-y,x-y,z+1/3"));
  const RTop_orth orth = op.rtop_orth(cell);
  EXPECT_TRUE((orth.rot() * orth.rot().transpose()).equals(Mat33<double>::identity(), 1e-12));
  EXPECT_NEAR(orth.trn()[2], 91.0 / 3.0, 1e-10);
  const RTop_frac back = orth.rtop_frac(cell);
  EXPECT_TRUE(back.rot().equals(op.rot(), 1e-12) && back.trn().equals(op.trn(), 1e-12));
  const Coord_frac f(0.1, 0.7, 0.35);
  EXPECT_TRUE((orth * f.coord_orth(cell)).equals((op * f).coord_orth(cell), 1e-10));
}

namespace {

// The operators of a group, in the group's own order.
std::vector<Symop> operators(const Spacegroup& group) {
  std::vector<Symop> ops;
  for (int i = 0; i < group.op_count(); ++i) ops.push_back(group.symop(i));
  return ops;
}

// A cell of each number's crystal system, in the standard setting
// (unique axis b, hexagonal axes for the rhombohedral groups).
Cell system_cell(const int number) {
  const double a = 10.0, b = 11.0, c = 12.0;
  if (number <= 2) return Cell(Cell_descr(a, b, c, 80, 85, 95));
  if (number <= 15) return Cell(Cell_descr(a, b, c, 90, 100, 90));
  if (number <= 74) return Cell(Cell_descr(a, b, c, 90, 90, 90));
  if (number <= 142) return Cell(Cell_descr(a, a, c, 90, 90, 90));
  if (number <= 194) return Cell(Cell_descr(a, a, c, 90, 90, 120));
  return Cell(Cell_descr(a, a, a, 90, 90, 90));
}

}  // namespace

// Every tabulated group fits a cell of its crystal system and none above
// the triclinic fits a triclinic cell.
TEST(SymopSet, EveryGroupFitsItsSystemOnly) {
  const Cell triclinic(Cell_descr(10, 11, 12, 80, 85, 95));
  int fitted = 0;
  for (int n = 1; n <= 230; ++n) {
    const std::vector<Symop> ops = operators(Spacegroup(Spgr_descr(n)));
    EXPECT_EQ(symop_set_fault(ops, system_cell(n)), "") << n;
    const String fault = symop_set_fault(ops, triclinic);
    EXPECT_EQ(fault.find("does not fit the cell") != String::npos, n > 2) << n << " " << fault;
    fitted += fault.empty();
  }
  EXPECT_EQ(fitted, 2);
}

// The metric tolerance (relative 1e-3 of the largest term of G), and lists
// that are not groups.
TEST(SymopSet, ToleranceAndGroupClosure) {
  const std::vector<Symop> p4 = operators(Spacegroup(Spgr_descr(75)));
  const std::pair<double, bool> edges[] = {
      {10.0, true}, {10.004, true}, {9.996, true}, {10.006, false}, {10.1, false}};
  for (const auto& e : edges)
    EXPECT_EQ(symop_set_fault(p4, Cell(Cell_descr(10, e.first, 9, 90, 90, 90))).empty(), e.second)
        << e.first;

  const Cell cell(Cell_descr(10, 11, 12, 90, 90, 90));
  std::vector<Symop> p212121 = operators(Spacegroup(Spgr_descr(19)));
  EXPECT_EQ(symop_set_fault(p212121, cell), "");
  p212121.pop_back();
  EXPECT_EQ(symop_set_fault(p212121, cell).find("the operators do not form a group: "), 0u);
  const Symop half{RTop_frac(String("x+1/2,y,z"))};
  EXPECT_EQ(symop_set_fault({half}, cell),
            "the operators do not form a group: x+1/2, y, z times x+1/2, y, z gives x, y, z");
  EXPECT_EQ(symop_set_fault({}, cell), "no operators");
}
