// Vectors, 3x3 matrices and dense matrices.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <sstream>

#include "foundation/matrix.h"
#include "foundation/message.h"
#include "foundation/vec_mat.h"
#include "support/testing.h"

using namespace vantrel;
using V = Vec3<double>;
using M = Mat33<double>;
using S = Mat33sym<double>;

namespace {

// Blocks of tests/data/matrix_fixtures.txt (tools/make_matrix_fixtures.py): a
// line "kind [n]" (n = 3 when absent) then rows of n numbers.
struct Block {
  int n;
  std::vector<double> v;
  double operator()(int row, int col) const { return v[row * n + col]; }
  // The n x n matrix of rows first, first + 1, ...
  Matrix<double> square(int first = 0) const {
    Matrix<double> m(n, n);
    for (int i = 0; i < n * n; ++i) m(i / n, i % n) = v[first * n + i];
    return m;
  }
};

std::vector<Block> blocks_of(const std::string& kind) {
  std::ifstream in = vantrel_testing::open_fixture("matrix_fixtures.txt");
  std::vector<Block> out;
  std::string k;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    if (std::isalpha(static_cast<unsigned char>(line[0]))) {
      int n;
      if (!(words >> k >> n)) n = 3;
      if (k == kind) out.push_back(Block{n, {}});
    } else if (k == kind) {
      for (double x; words >> x;) out.back().v.push_back(x);
    }
  }
  return out;
}

}  // namespace

TEST(VecMat, NullAndEquals) {
  EXPECT_TRUE(V::null().is_null());
  EXPECT_FALSE(V(1.0, Util::nan(), 0.0).is_null());
  EXPECT_TRUE(V(std::numeric_limits<double>::infinity(), 0, 0).is_null());
  EXPECT_TRUE(M::null().is_null());
  EXPECT_FALSE(M::identity().is_null());
  // The null matrix holds zeros after its NaN.
  for (int k = 1; k < 9; ++k) EXPECT_EQ(M::null()(k / 3, k % 3), 0.0) << k;

  EXPECT_TRUE(V(1, 0, 0).equals(V(1.5, 0, 0), 0.5));  // exactly tol is equal
  EXPECT_FALSE(V::null().equals(V::null(), 0.0));
  EXPECT_FALSE(V::zero().equals(V(3, 4, 0), 4.9));  // Euclidean, not per element
}

TEST(VecMat, ProductsInverseAndText) {
  EXPECT_TRUE(V::cross(V(0, 1, 0), V(1, 0, 0)).equals(V(0, 0, -1), 0.0));
  const M m(2, -1, 0.5, 1, 3, -2, 0, 4, 1);
  EXPECT_NEAR(m.det(), 25.0, 1e-13);
  EXPECT_TRUE((m.inverse() * m).equals(M::identity(), 1e-14));
  EXPECT_TRUE((m * V(1, 2, 3)).equals(V(1.5, 1, 11), 1e-15));
  EXPECT_TRUE((V(1, 2, 3) * m).equals(m.transpose() * V(1, 2, 3), 1e-15));
  EXPECT_TRUE(Util::is_nan(M(0, 0, 0, 0, 0, 0, 0, 0, 0).inverse()(1, 2)));
  const S s(2, 3, 4, 0.5, -0.25, 1);
  EXPECT_TRUE((M(s.inverse()) * M(s)).equals(M::identity(), 1e-14));
  EXPECT_EQ(S(1, 1, 1, 1, 0, 0).quad_form(V(1, 1, 0)), 4.0);
  EXPECT_EQ(V(1, 2.5, -3).format(), "(         1,       2.5,        -3)");
  EXPECT_EQ(S(1, 2, 3, 4, 5, 6).format(),
            "|         1,         4,         5|\n"
            "|         4,         2,         6|\n"
            "|         5,         6,         3|");
}

// The symmetric square root is a true root, built from the unsorted eigen-decomposition.
TEST(VecMat, SymmetricSquareRootMatchesIndependentRoots) {
  EXPECT_TRUE(S::identity().sqrt().equals(M::identity(), 0.0));
  const auto blocks = blocks_of("sqrt");
  ASSERT_EQ(blocks.size(), 4u);
  for (const auto& b : blocks) {
    const S s(b(0, 0), b(1, 1), b(2, 2), b(0, 1), b(0, 2), b(1, 2));
    const M root = s.sqrt();
    EXPECT_TRUE((root * root).equals(M(s), 1e-12));
    EXPECT_TRUE(root.equals(
        M(b(3, 0), b(3, 1), b(3, 2), b(4, 0), b(4, 1), b(4, 2), b(5, 0), b(5, 1), b(5, 2)), 1e-12));
  }
  // Semi-definite stays finite; indefinite does not.
  const S ones(1, 1, 1, 1, 1, 1);
  EXPECT_TRUE((ones.sqrt() * ones.sqrt()).equals(M(ones), 1e-12));
  EXPECT_TRUE(Util::is_nan(S(-1, 1, 1, 0, 0, 0).sqrt()(0, 0)));
}

TEST(Matrix, SolveAgreesWithIndependentSolutionsPivotsAndChecksShapes) {
  const auto blocks = blocks_of("solve");
  ASSERT_EQ(blocks.size(), 6u);
  for (const auto& b : blocks) {
    const int n = b.n;
    const auto rhs = b.v.begin() + n * n;  // the row after the matrix
    const std::vector<double> x = b.square().solve(std::vector<double>(rhs, rhs + n));
    ASSERT_EQ(x.size(), std::size_t(n));
    for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], b(n + 1, i), 1e-10 * (1 + std::fabs(x[i])));
  }
  Matrix<double> a(2, 2);
  a(0, 1) = a(1, 0) = 1.0;
  EXPECT_EQ(a.solve({3.0, 5.0}), (std::vector<double>{5.0, 3.0}));
  EXPECT_EQ(a(0, 0), 0.0);  // the matrix itself is untouched
  try {
    Matrix<double>(3, 3, 1.0).solve({1.0, 2.0});
    FAIL() << "no fatal message";
  } catch (const Message_fatal& e) {
    EXPECT_EQ(e.text(), "Matrix.solve() matrix/vector mismatch");
  }
  EXPECT_THROW(Matrix<double>(2, 3).solve({1.0, 2.0}), Message_fatal);
  EXPECT_THROW(Matrix<float>(2, 3).eigen(true), Message_fatal);
}

TEST(Matrix, EigenAgreesWithIndependentDecompositions) {
  const auto blocks = blocks_of("eigen");
  ASSERT_EQ(blocks.size(), 5u);
  for (const auto& b : blocks) {
    const int n = b.n;
    const Matrix<double> expected = b.square(n + 1);
    Matrix<double> v = b.square();
    for (int i = 1; i < n; ++i) v(i, i - 1) = 1e6;  // only the upper triangle is read
    const std::vector<double> values = v.eigen(true);
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(values[k], b(n, k), 1e-10);
      double dot = 0.0;  // columns agree up to sign
      for (int i = 0; i < n; ++i) dot += v(i, k) * expected(i, k);
      const double sign = dot < 0.0 ? -1.0 : 1.0;
      for (int i = 0; i < n; ++i) EXPECT_NEAR(v(i, k), sign * expected(i, k), 1e-10) << n;
    }
  }
  EXPECT_TRUE(Matrix<double>().eigen(true).empty());
}
