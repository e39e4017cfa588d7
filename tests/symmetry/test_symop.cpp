// Symmetry operators: text parsing and writing, snapping of translations to
// 48ths, integer operators and operator codes.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "foundation/message.h"
#include "symmetry/symop.h"

using namespace vantrel;

namespace {

// One operator of the fixture made with an independent toolkit.
struct FixtureOp {
  String triplet;  // e.g. "-y,x-y,z+1/3"
  String decimal;  // e.g. "-y,x-y,z+.333333"
  Mat33<int> rot;
  Vec3<int> trn24;  // translation in 24ths, 0..23
  int code;
};

std::vector<FixtureOp> read_fixture() {
  std::ifstream in(VANTREL_TEST_DATA "/symops_all.tsv");
  std::vector<FixtureOp> ops;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<String> col = String(line).split("\t");
    const std::vector<String> r = col.at(2).split(",");
    const std::vector<String> t = col.at(3).split(",");
    FixtureOp op;
    op.triplet = col[0];
    op.decimal = col[1];
    for (int k = 0; k < 9; ++k) op.rot(k / 3, k % 3) = r.at(k).i();
    for (int i = 0; i < 3; ++i) op.trn24[i] = t.at(i).i();
    op.code = col.at(4).i();
    ops.push_back(op);
  }
  return ops;
}

void expect_op(const RTop<double>& op, const FixtureOp& ref) {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_EQ(op.rot()(i, j), ref.rot(i, j));
    EXPECT_NEAR(op.trn()[i], ref.trn24[i] / 24.0, 1e-12);
  }
}

}  // namespace

// Every distinct operator of the toolkit's space groups, read from its text
// with integer and with decimal translations, through the operator code and
// back, and written as text again.
TEST(SymopFixture, RoundTripsOverEveryToolkitOperator) {
  const std::vector<FixtureOp> ops = read_fixture();
  ASSERT_GT(ops.size(), 800u);
  for (const FixtureOp& ref : ops) {
    SCOPED_TRACE(ref.triplet);
    const RTop_frac parsed(ref.triplet);
    const Symop symop(parsed);
    expect_op(symop, ref);
    expect_op(Symop(RTop_frac(ref.decimal)), ref);

    const Symop_code code(symop);
    EXPECT_EQ(int(code), ref.code);
    expect_op(code.symop(), ref);
    const Isymop isym = code.isymop();
    EXPECT_TRUE(isym.rot() == ref.rot);
    EXPECT_TRUE(isym.trn() == ref.trn24);
    EXPECT_EQ(int(Symop_code(isym)), ref.code);
    const Symop rot_only = code.code_rot().symop(), trn_only = code.code_trn().symop();
    EXPECT_TRUE(rot_only.rot() == symop.rot() && rot_only.trn() == Vec3<double>::zero());
    EXPECT_TRUE(trn_only.rot() == Mat33<double>::identity() && trn_only.trn() == symop.trn());

    // format() writes the toolkit's text with ", " between the rows.
    String spaced;
    for (const String& row : ref.triplet.split(",")) spaced += (spaced.empty() ? "" : ", ") + row;
    const String text = symop.format();
    EXPECT_EQ(text, spaced);
    EXPECT_EQ(int(Symop_code(Symop(RTop_frac(text)))), ref.code);

    const RTop<double> prod = parsed * parsed.inverse();
    EXPECT_TRUE(prod.rot().equals(Mat33<double>::identity(), 1e-12));
    EXPECT_TRUE(prod.trn().equals(Vec3<double>::zero(), 1e-12));
  }
}

// ---------------------------------------------------------------------------
// Parsing

TEST(RTopFracText, Examples) {
  const auto text = [](const char* s) { return Symop(RTop_frac(String(s))).format(); };
  EXPECT_EQ(text("X , Y , Z"), "x, y, z");
  EXPECT_EQ(text("1/2-x,-y,z"), "-x+1/2, -y, z");
  EXPECT_EQ(text("-x-1/4,y,z"), "-x+3/4, y, z");
  EXPECT_DOUBLE_EQ(RTop_frac(String("-x-1/4,y,z")).trn()[0], -0.25);
  EXPECT_EQ(text("2*x,y,z"), "2x, y, z");
  EXPECT_EQ(text("x+x,y,z"), "x, y, z");  // the later term on an axis wins
  EXPECT_EQ(text("x,,y,z"), "x, y, z");   // empty fields are dropped
  // Decimal numbers keep their point.
  EXPECT_DOUBLE_EQ(RTop_frac(String("x+0.5,y,z")).trn()[0], 0.5);
  EXPECT_EQ(text("x+0.5,y,z"), "x+1/2, y, z");
  EXPECT_EQ(text("-x+.25, 0.75-y, z-1.5"), "-x+1/4, -y+3/4, z+1/2");
  EXPECT_DOUBLE_EQ(RTop_frac(String("0.5*x,y,z")).rot()(0, 0), 0.5);
}

TEST(RTopFracText, WrongFieldCountIsFatal) {
  std::ostringstream sink;
  Message::set_stream(sink);
  EXPECT_THROW(RTop_frac(String("x,y")), Message_fatal);
  EXPECT_THROW(RTop_frac(String("x,y,z,x")), Message_fatal);
  EXPECT_THROW(RTop_frac(String("")), Message_fatal);
  Message::set_stream(std::cerr);
  EXPECT_NE(sink.str().find("RTop_frac: invalid string:x,y\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Writing

TEST(SymopFormat, ZeroRowsAndTinyTranslations) {
  // An all-zero row is written "0" and reads back as the same row.
  const Symop proj(RTop<double>(Mat33<double>(1, 0, 0, 0, 0, 0, 0, 0, 1),
                                Vec3<double>::zero()));
  EXPECT_EQ(proj.format(), "x, 0, z");
  const RTop_frac back(proj.format());
  EXPECT_TRUE(back.rot().equals(proj.rot(), 0.0));

  // A translation-only row keeps its value.
  const Symop shift(RTop<double>(Mat33<double>(1, 0, 0, 0, 0, 0, 0, 0, 1),
                                 Vec3<double>(0, 0.5, 0)));
  EXPECT_EQ(shift.format(), "x, 1/2, z");

  // 1/48 is written to the nearest 24th, which is 0.
  const Symop tiny(RTop<double>(Mat33<double>::identity(),
                                Vec3<double>(1.0 / 48.0, 0, 0)));
  EXPECT_EQ(tiny.format(), "x+0, y, z");
}

// ---------------------------------------------------------------------------
// Snapping translations to 48ths, rounding ties to even

TEST(SymopSnapping, TranslationsReduceIntoUnitInterval) {
  const auto snapped = [](double t) {
    return Symop(RTop<double>(Mat33<double>::identity(), Vec3<double>(t, 0, 0))).trn()[0];
  };
  EXPECT_DOUBLE_EQ(snapped(-0.5), 0.5);
  EXPECT_DOUBLE_EQ(snapped(1.0), 0.0);
  EXPECT_DOUBLE_EQ(snapped(25.0 / 24.0), 1.0 / 24.0);
  EXPECT_DOUBLE_EQ(snapped(0.3), 14.0 / 48.0);        // 14.4 -> 14
  EXPECT_DOUBLE_EQ(snapped(0.5 / 48.0), 0.0);         // 0.5 -> 0 (even)
  EXPECT_DOUBLE_EQ(snapped(1.5 / 48.0), 2.0 / 48.0);  // 1.5 -> 2 (even)
  EXPECT_DOUBLE_EQ(snapped(-1.0 / 48.0), 47.0 / 48.0);
}

TEST(SymopSnapping, RotationRoundingAndMatrixConstructor) {
  const Symop rounded(RTop<double>(
      Mat33<double>(0.5, 1.5, -0.5, 0.9, -1.2, 2.5, 0, 0, 1), Vec3<double>::zero()));
  EXPECT_TRUE(rounded.rot() == Mat33<double>(0, 2, 0, 1, -1, 2, 0, 0, 1));

  const double mat[4][4] = {{0.9, 0, 0, -0.25}, {0, 1, 0, 1.5}, {0, 0, 1, 2.0 / 3.0},
                            {7, 7, 7, 7}};
  const Symop m(mat);
  EXPECT_DOUBLE_EQ(m.rot()(0, 0), 0.9);  // copied without rounding
  EXPECT_TRUE(m.trn() == Vec3<double>(0.75, 0.5, 32.0 / 48.0));
}

TEST(SymopSnapping, IntegerOperatorsAndCodes) {
  const auto op = [](double t) {
    return Symop(RTop<double>(Mat33<double>::identity(), Vec3<double>(0, 0, t)));
  };
  const Grid g24(24, 24, 24);
  EXPECT_EQ(Isymop(op(-0.25), g24).trn()[2], 18);
  EXPECT_EQ(int(Symop_code(op(1.0 / 48.0))), 0);        // 0.5 -> 0
  EXPECT_EQ(int(Symop_code(op(3.0 / 48.0))), 2 * 576);  // 1.5 -> 2
  // 47/48 gives 23.5 -> 24, the grid size, which the code folds to 0.
  EXPECT_EQ(Isymop(op(47.0 / 48.0), g24).trn()[2], 24);
  EXPECT_EQ(int(Symop_code(op(47.0 / 48.0))), 0);

  // On another grid the translation counts steps of that grid.
  const Isymop on_map(Symop(RTop_frac(String("-x,y+1/2,-z+1/3"))), Grid(10, 16, 30));
  EXPECT_TRUE(on_map.trn() == Vec3<int>(0, 8, 10));
  EXPECT_TRUE(on_map.rot() == Mat33<int>(-1, 0, 0, 0, 1, 0, 0, 0, -1));

  // Rotation elements outside -1..1 fold modulo 3.
  const Vec3<int> zero(0, 0, 0);
  EXPECT_EQ(int(Symop_code(Isymop(Mat33<int>(2, 0, 0, 0, 1, 0, 0, 0, 1), zero))),
            int(Symop_code(Isymop(Mat33<int>(-1, 0, 0, 0, 1, 0, 0, 0, 1), zero))));
}

// A threefold screw in a hexagonal cell is orthonormal in the orthogonal
// frame, and the conversion back gives the fractional operator again.
TEST(RTopFrac, NullAndOrthogonalFrame) {
  EXPECT_TRUE(RTop_frac::null().is_null());
  EXPECT_FALSE(RTop_frac::identity().is_null());

  const Cell cell(Cell_descr(52.0, 52.0, 91.0, 90.0, 90.0, 120.0));
  const RTop_frac op(String("-y,x-y,z+1/3"));
  const RTop_orth orth = op.rtop_orth(cell);
  EXPECT_TRUE((orth.rot() * orth.rot().transpose()).equals(Mat33<double>::identity(), 1e-12));
  EXPECT_NEAR(orth.trn()[2], 91.0 / 3.0, 1e-10);
  const RTop_frac back = orth.rtop_frac(cell);
  EXPECT_TRUE(back.rot().equals(op.rot(), 1e-12));
  EXPECT_TRUE(back.trn().equals(op.trn(), 1e-12));

  const Coord_frac f(0.1, 0.7, 0.35);
  EXPECT_TRUE((orth * f.coord_orth(cell)).equals((op * f).coord_orth(cell), 1e-10));
}
