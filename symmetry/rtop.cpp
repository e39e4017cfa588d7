#include "symmetry/rtop.h"

#include "foundation/matrix.h"
#include "foundation/message.h"
#include "foundation/rotation.h"
#include "symmetry/symop.h"

namespace vantrel {

namespace {

Coord_orth centroid(const std::vector<Coord_orth>& xs) {
  Coord_orth sum(0.0, 0.0, 0.0);
  for (const Coord_orth& x : xs) sum = sum + x;
  return (1.0 / double(xs.size())) * sum;
}

}  // namespace

// Least-squares superposition by quaternion: the rotation is the
// eigenvector of the smallest eigenvalue of a 4x4 symmetric matrix built
// from the centred pairs.
RTop_orth::RTop_orth(const std::vector<Coord_orth>& src, const std::vector<Coord_orth>& tgt) {
  if (src.size() != tgt.size()) fatal("RTop_orth: coordinate list size mismatch");
  const Coord_orth cs = centroid(src);
  const Coord_orth ct = centroid(tgt);

  Matrix<double> mat(4, 4);
  for (std::size_t i = 0; i < src.size(); ++i) {
    const Coord_orth a = src[i] - cs;
    const Coord_orth b = tgt[i] - ct;
    const double px = a[0] + b[0], py = a[1] + b[1], pz = a[2] + b[2];
    const double mx = a[0] - b[0], my = a[1] - b[1], mz = a[2] - b[2];
    mat(0, 0) += mx * mx + my * my + mz * mz;
    mat(1, 1) += mx * mx + py * py + pz * pz;
    mat(2, 2) += px * px + my * my + pz * pz;
    mat(3, 3) += px * px + py * py + mz * mz;
    mat(0, 1) += py * mz - my * pz;
    mat(0, 2) += mx * pz - px * mz;
    mat(0, 3) += my * px - mx * py;
    mat(1, 2) += mx * my - px * py;
    mat(1, 3) += mx * mz - px * pz;
    mat(2, 3) += my * mz - py * pz;
  }
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < i; ++j) mat(i, j) = mat(j, i);
  mat.eigen(true);

  Rotation q(mat(0, 0), mat(1, 0), mat(2, 0), mat(3, 0));
  rot() = q.norm().matrix();
  trn() = ct - rot() * cs;
}

RTop_frac RTop_orth::rtop_frac(const Cell& cell) const {
  return RTop_frac(RTop<double>(cell.frac_matrix()) * (*this) * RTop<double>(cell.orth_matrix()));
}

}  // namespace vantrel
