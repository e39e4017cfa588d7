#include <gtest/gtest.h>

#include <limits>

#include "foundation/vec_mat.h"
#include "tests/foundation/matrix_fixtures.h"

using vantrel::Mat33;
using vantrel::Mat33sym;
using vantrel::Util;
using vantrel::Vec3;
using V = Vec3<double>;
using M = Mat33<double>;

TEST(VecMat, NullAndEquals) {
  EXPECT_TRUE(V::null().is_null());
  EXPECT_FALSE(V(1.0, Util::nan(), 0.0).is_null());
  EXPECT_TRUE(V(std::numeric_limits<double>::infinity(), 0, 0).is_null());
  EXPECT_TRUE(Mat33sym<float>::null().is_null());
  EXPECT_FALSE(M::identity().is_null());
  // The null matrix holds zeros after its NaN.
  EXPECT_EQ(M::null()(1, 1), 0.0);
  EXPECT_EQ(M::null()(2, 0), 0.0);

  EXPECT_TRUE(V(1, 0, 0).equals(V(1.5, 0, 0), 0.5));  // exactly tol is equal
  EXPECT_FALSE(V::null().equals(V::null(), 0.0));
  EXPECT_FALSE(
      V::zero().equals(V(3, 4, 0), 4.9));  // Euclidean, not per element
  EXPECT_TRUE(Vec3<float>::zero().equals(Vec3<float>(3, 4, 0), 5.0f));
}

TEST(VecMat, ProductsAndInverse) {
  EXPECT_TRUE(V::cross(V(0, 1, 0), V(1, 0, 0)).equals(V(0, 0, -1), 0.0));
  EXPECT_TRUE(V(3, 0, 4).unit().equals(V(0.6, 0, 0.8), 1e-15));

  const M m(2, -1, 0.5, 1, 3, -2, 0, 4, 1);
  EXPECT_NEAR(m.det(), 25.0, 1e-13);
  EXPECT_TRUE((m.inverse() * m).equals(M::identity(), 1e-14));
  EXPECT_TRUE((m * V(1, 2, 3)).equals(V(1.5, 1, 11), 1e-15));
  EXPECT_TRUE((V(1, 2, 3) * m).equals(m.transpose() * V(1, 2, 3), 1e-15));
  EXPECT_TRUE(Util::is_nan(M(0, 0, 0, 0, 0, 0, 0, 0, 0).inverse()(1, 2)));

  const Mat33sym<double> s(2, 3, 4, 0.5, -0.25, 1);
  EXPECT_TRUE((M(s.inverse()) * M(s)).equals(M::identity(), 1e-14));
  EXPECT_EQ(s(2, 0), -0.25);
  EXPECT_EQ(Mat33sym<double>(1, 1, 1, 1, 0, 0).quad_form(V(1, 1, 0)), 4.0);

  const Mat33<int> quarter(0, -1, 0, 1, 0, 0, 0, 0, 1);  // about z
  EXPECT_TRUE(quarter * Vec3<int>(1, 2, 3) == Vec3<int>(-2, 1, 3));
  EXPECT_TRUE(quarter * quarter * quarter * quarter == Mat33<int>::identity());
  EXPECT_TRUE(quarter * Vec3<int>(1, 2, 3) != Vec3<int>(1, 2, 3));
}

TEST(VecMat, SymmetricSquareRoot) {
  const M id = Mat33sym<double>::identity().sqrt();
  EXPECT_TRUE(id.equals(M::identity(), 0.0));
  EXPECT_TRUE(Mat33sym<double>(4, 9, 16, 0, 0, 0)
                  .sqrt()
                  .equals(M(2, 0, 0, 0, 3, 0, 0, 0, 4), 1e-14));

  // Non-diagonal positive-definite matrices: the root squares to the input
  // and matches an independent principal square root.
  const auto records = fixtures::records_of("sqrt");
  ASSERT_EQ(records.size(), 4u);
  for (const auto& r : records) {
    const auto& a = r.rows;
    const Mat33sym<double> s(a[0][0], a[1][1], a[2][2], a[0][1], a[0][2],
                             a[1][2]);
    const M root = s.sqrt();
    EXPECT_TRUE((root * root).equals(M(s), 1e-12));
    EXPECT_TRUE(root.equals(M(a[3][0], a[3][1], a[3][2], a[4][0], a[4][1],
                              a[4][2], a[5][0], a[5][1], a[5][2]),
                            1e-12));
  }
  const Mat33sym<float> f(2.0f, 1.5f, 1.0f, 0.8f, -0.3f, 0.4f);
  EXPECT_TRUE((f.sqrt() * f.sqrt()).equals(Mat33<float>(f), 1e-5f));
  // Semi-definite stays finite; indefinite does not.
  const Mat33sym<double> ones(1, 1, 1, 1, 1, 1);
  EXPECT_TRUE((ones.sqrt() * ones.sqrt()).equals(M(ones), 1e-12));
  EXPECT_TRUE(Util::is_nan(Mat33sym<double>(-1, 1, 1, 0, 0, 0).sqrt()(0, 0)));
}

TEST(VecMat, TextForms) {
  EXPECT_EQ(V(1, 2.5, -3).format(), "(         1,       2.5,        -3)");
  EXPECT_EQ(Mat33sym<double>(1, 2, 3, 4, 5, 6).format(),
            "|         1,         4,         5|\n"
            "|         4,         2,         6|\n"
            "|         5,         6,         3|");
}
