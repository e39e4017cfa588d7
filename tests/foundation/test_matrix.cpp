#include <gtest/gtest.h>

#include <cmath>

#include "foundation/matrix.h"
#include "foundation/message.h"
#include "tests/foundation/matrix_fixtures.h"

using vantrel::Matrix;

namespace {

Matrix<double> square(const fixtures::Record& r, int first = 0) {
  Matrix<double> m(r.n, r.n);
  for (int i = 0; i < r.n; ++i)
    for (int j = 0; j < r.n; ++j) m(i, j) = r.rows[first + i][j];
  return m;
}

}  // namespace

TEST(MatrixSolve, AgreesWithIndependentSolutions) {
  const auto records = fixtures::records_of("solve");
  ASSERT_EQ(records.size(), 6u);
  for (const auto& r : records) {
    const std::vector<double> x = square(r).solve(r.rows[r.n]);
    ASSERT_EQ(x.size(), std::size_t(r.n));
    for (int i = 0; i < r.n; ++i)
      EXPECT_NEAR(x[i], r.rows[r.n + 1][i], 1e-10 * (1 + std::fabs(x[i])));
  }
}

TEST(MatrixSolve, PivotsAndRejectsBadShapes) {
  Matrix<double> a(2, 2);
  a(0, 1) = a(1, 0) = 1.0;
  EXPECT_EQ(a.solve({3.0, 5.0}), (std::vector<double>{5.0, 3.0}));
  EXPECT_EQ(a(0, 0), 0.0);  // the matrix itself is untouched

  try {
    Matrix<double>(3, 3, 1.0).solve({1.0, 2.0});
    FAIL() << "no fatal message";
  } catch (const vantrel::Message_fatal& e) {
    EXPECT_EQ(e.text(), "Matrix.solve() matrix/vector mismatch");
  }
  EXPECT_THROW(Matrix<double>(2, 3).solve({1.0, 2.0}), vantrel::Message_fatal);
  EXPECT_THROW(Matrix<float>(2, 3).eigen(true), vantrel::Message_fatal);
}

TEST(MatrixEigen, AgreesWithIndependentDecompositions) {
  const auto records = fixtures::records_of("eigen");
  ASSERT_EQ(records.size(), 5u);
  for (const auto& r : records) {
    const int n = r.n;
    const Matrix<double> a = square(r);
    const Matrix<double> expected = square(r, n + 1);
    Matrix<double> v = a;
    const std::vector<double> values = v.eigen(true);
    for (int k = 0; k < n; ++k) {
      EXPECT_NEAR(values[k], r.rows[n][k], 1e-10);
      // Columns agree up to sign, and A v = lambda v.
      double dot = 0.0;
      for (int i = 0; i < n; ++i) dot += v(i, k) * expected(i, k);
      EXPECT_NEAR(std::fabs(dot), 1.0, 1e-10) << "n = " << n;
      for (int i = 0; i < n; ++i) {
        double av = 0.0;
        for (int j = 0; j < n; ++j) av += a(i, j) * v(j, k);
        EXPECT_NEAR(av, values[k] * v(i, k), 1e-10);
      }
    }
  }
}

TEST(MatrixEigen, ClosedForms) {
  // [[2, 1], [1, 2]]: values 1 and 3 with vectors (1, -1) and (1, 1) / sqrt 2.
  const double r = std::sqrt(0.5);
  Matrix<double> a(2, 2, 1.0);
  a(0, 0) = a(1, 1) = 2.0;
  const std::vector<double> v = a.eigen(false);
  EXPECT_NEAR(v[0], 1.0, 1e-15);
  EXPECT_NEAR(v[1], 3.0, 1e-15);
  EXPECT_NEAR(a(0, 0), r, 1e-15);
  EXPECT_NEAR(a(1, 0), -r, 1e-15);
  EXPECT_NEAR(a(1, 1), r, 1e-15);

  // Only the upper triangle is read: (1, 0) is ignored.
  Matrix<float> b(3, 3);
  b(0, 0) = b(1, 1) = 1.0f;
  b(2, 2) = 2.0f;
  b(0, 2) = 0.5f;
  b(1, 0) = 100.0f;
  const std::vector<float> e = b.eigen(true);
  EXPECT_NEAR(e[0], (3.0 - std::sqrt(2.0)) / 2.0, 1e-6);
  EXPECT_NEAR(e[1], 1.0, 1e-6);
  EXPECT_NEAR(e[2], (3.0 + std::sqrt(2.0)) / 2.0, 1e-6);

  // A diagonal matrix stops at once; sorting carries the unit columns along.
  Matrix<double> d(3, 3);
  d(0, 0) = 5.0;
  d(1, 1) = -2.0;
  d(2, 2) = 1.0;
  EXPECT_EQ(d.eigen(true), (std::vector<double>{-2.0, 1.0, 5.0}));
  EXPECT_EQ(d(1, 0), 1.0);
  EXPECT_EQ(d(2, 1), 1.0);
  EXPECT_EQ(d(0, 2), 1.0);

  Matrix<double> empty;
  EXPECT_TRUE(empty.eigen(true).empty());
}
