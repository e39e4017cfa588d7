#include "calculations/ffts.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "foundation/statistics.h"
#include "foundation/util.h"
#include "maps/interp.h"

namespace vantrel {

namespace {

void require_result_grid(const char* who, const Xmap_base& result, const Grid_sampling& grid) {
  if (!(result.grid_sampling() == grid))
    fatal(std::string(who) + ": the result map's grid " + result.grid_sampling().format() +
          " is not the searched map's " + grid.format());
}

void require_operator(const char* who, const NX_operator& nx_op) {
  if (nx_op.is_null()) fatal(std::string(who) + ": the fragment operator is null");
}

void require_one_grid(const char* who, const NXmap_base& target, const NXmap_base& weight) {
  if (!(target.grid() == weight.grid()))
    fatal(std::string(who) + ": the target's grid " + target.grid().format() +
          " is not the weight's " + weight.grid().format());
}

// Real values of the whole cell of a map and of its square on two P1 grids,
// each point through its symmetry mate in the asymmetric unit, then both
// transformed with the cell volume as scale.
template <class T>
double transform_map(const char* who, const Xmap<T>& map, FFTmap_p1& map_ft, FFTmap_p1& map_sq_ft) {
  if (map.is_null()) fatal(std::string(who) + ": the searched map is null");
  const double cell_volume = map.cell().volume();
  const Grid_sampling& g = map.grid_sampling();
  map_ft.init(g);
  map_sq_ft.init(g);
  Xmap_base::Map_reference_coord iu(map, Coord_grid(0, 0, 0));
  for (int u = 0; u < g.nu(); ++u, iu.next_u()) {
    Xmap_base::Map_reference_coord iv = iu;
    for (int v = 0; v < g.nv(); ++v, iv.next_v()) {
      Xmap_base::Map_reference_coord iw = iv;
      float* row = &map_ft.real_data(Coord_grid(u, v, 0));
      float* row_sq = &map_sq_ft.real_data(Coord_grid(u, v, 0));
      for (int w = 0; w < g.nw(); ++w, iw.next_w()) {
        const T rho = map[iw];
        row[w] = float(rho);
        row_sq[w] = float(rho * rho);  // squared at the map's precision
      }
    }
  }
  map_ft.fft_x_to_h(cell_volume);
  map_sq_ft.fft_x_to_h(cell_volume);
  return cell_volume;
}

// Where the weight box lies relative to the target box: both are sampled at
// their own grid positions of one point in space. Boxes with one placement
// (the usual case) share grid positions exactly.
class Weight_frame {
 public:
  Weight_frame(const NXmap_base& target, const NXmap_base& weight)
      : same_(target.orth_to_grid().rot() == weight.orth_to_grid().rot() &&
              target.orth_to_grid().trn() == weight.orth_to_grid().trn()),
        to_target_(target.orth_to_grid() * weight.grid_to_orth()),
        to_weight_(weight.orth_to_grid() * target.grid_to_orth()) {}

  Coord_map to_target(const Coord_map& m) const { return same_ ? m : Coord_map(to_target_ * m); }
  Coord_map to_weight(const Coord_map& m) const { return same_ ? m : Coord_map(to_weight_ * m); }

 private:
  bool same_;
  RTop<double> to_target_, to_weight_;
};

// The crystal grid points around the weight's positive values: the box of
// their fractional positions, corners rounded to the nearest grid point and
// widened by one point. Empty when no weight is positive (missing values
// are not).
template <class T>
Grid_range weighted_box(const NXmap<T>& weight, const Weight_frame& frame, const NX_operator& nx_op,
                        const Grid& grid) {
  Range<double> ru, rv, rw;
  const Grid& wg = weight.grid();
  for (int i = 0; i < wg.size(); ++i)
    if (weight[i] > T(0)) {
      const Coord_frac f = nx_op.xmap_coord_frac(frame.to_target(Coord_map(wg.deindex(i))));
      ru.include(f.u());
      rv.include(f.v());
      rw.include(f.w());
    }
  if (ru.min() > ru.max()) return Grid_range();
  const Coord_grid one(1, 1, 1);
  return Grid_range(Coord_frac(ru.min(), rv.min(), rw.min()).coord_map(grid).coord_grid() - one,
                    Coord_frac(ru.max(), rv.max(), rw.max()).coord_map(grid).coord_grid() + one);
}

// Target t and weight wt at the crystal grid point c: false when either
// cannot be interpolated there or comes out missing.
template <class T>
bool sample_fragment(const NXmap<T>& target, const NXmap<T>& weight, const Weight_frame& frame,
                     const NX_operator& nx_op, const Coord_grid& c, const Grid& grid, T& t, T& wt) {
  const Coord_map m = nx_op.nxmap_coord_map(c.coord_frac(grid));
  const Coord_map mw = frame.to_weight(m);
  if (!Interp_linear::can_interp(target, m) || !Interp_linear::can_interp(weight, mw)) return false;
  Interp_linear::interp(target, m, t);
  Interp_linear::interp(weight, mw, wt);
  return !Util::is_nan(t) && !Util::is_nan(wt);
}

// With W holding the weights and WT the weighted targets on the cell grid,
// W becomes W(s) = sum_p W(p) rho(p + s)^2 - 2 WT(p) rho(p + s), from the
// products conj(W) rho2_ft - 2 conj(WT) rho_ft in reciprocal space (the
// scaling and signs of FFTmap_p1), times back_scale * cell_volume^2 / N.
// Single-precision arithmetic throughout.
void correlate(FFTmap_p1& w, FFTmap_p1& wt, const FFTmap_p1& map_ft, const FFTmap_p1& map_sq_ft,
               const double& cell_volume, const double& back_scale) {
  w.fft_x_to_h(cell_volume);
  wt.fft_x_to_h(cell_volume);
  const Grid& h = w.grid_reci();
  const std::size_t n = std::size_t(h.nu()) * h.nv() * h.nw();
  const Coord_grid origin(0, 0, 0);
  std::complex<float>* pw = &w.cplx_data(origin);
  const std::complex<float>* pwt = &wt.cplx_data(origin);
  const std::complex<float>* pa = &map_ft.cplx_data(origin);
  const std::complex<float>* pb = &map_sq_ft.cplx_data(origin);
  for (std::size_t i = 0; i < n; ++i) {
    // Written out: the library's complex product checks for infinities.
    const float wr = pw[i].real(), wi = pw[i].imag();
    const float tr = pwt[i].real(), ti = pwt[i].imag();
    const float ar = pa[i].real(), ai = pa[i].imag();
    const float br = pb[i].real(), bi = pb[i].imag();
    pw[i] = std::complex<float>((wr * br + wi * bi) - 2.0f * (tr * ar + ti * ai),
                                (wr * bi - wi * br) - 2.0f * (tr * ai - ti * ar));
  }
  w.fft_h_to_x(back_scale);
}

// result(c) = factor W(c) + s at every asymmetric-unit point c of the result
// map, in double, run by run along w: a run's points are consecutive in
// storage and on a row of W.
template <class T>
void write_scores(Xmap<T>& result, const FFTmap_p1& w, const double& factor, const double& s) {
  for (const Asu_run& run : result.asu_runs(2)) {
    const float* row = &w.real_data(Coord_grid(run.start.u(), run.start.v(), 0)) + run.start.w();
    for (int i = 0; i < run.length; ++i)
      result.set_data(run.index + i, T(factor * double(row[i]) + s));
  }
}

// sum + weight * diff^2, the product and sum in double, rounded to T.
template <class T> T add_square(const T& sum, const T& weight, const T& diff) {
  return T(double(sum) + double(weight) * (double(diff) * double(diff)));
}

// A fragment on the searched grid: target and weight values in box storage
// order, weight 0 where either is missing, so that such points add nothing.
struct Box_values {
  std::vector<float> target, weight;
};

Box_values basic_box(const NXmap<float>& target, const NXmap<float>& weight) {
  const int n = target.grid().size();
  Box_values box{std::vector<float>(n, 0.0f), std::vector<float>(n, 0.0f)};
  for (int i = 0; i < n; ++i)
    if (!Util::is_nan(target[i]) && !Util::is_nan(weight[i])) {
      box.target[i] = target[i];
      box.weight[i] = weight[i];
    }
  return box;
}

// The box point (nu/2, nv/2, nw/2), which sits on the crystal grid origin.
Coord_grid box_centre(const Grid& g) { return Coord_grid(g.nu() / 2, g.nv() / 2, g.nw() / 2); }

// result(c) = sum over the box points d of weight(d) (rho(c + corner + d) -
// target(d))^2 at every asymmetric-unit point c, the box walked u slowest as
// it is stored.
template <class T>
void sum_directly(Xmap<T>& result, const Xmap<T>& map, const Grid& box, const Coord_grid& corner,
                  const std::vector<T>& target, const std::vector<T>& weight) {
  for (Xmap_base::Map_reference_index ix = result.first(); !ix.last(); ix.next()) {
    T sum = T(0);
    int i = 0;
    Xmap_base::Map_reference_coord iu(map, ix.coord() + corner);
    for (int u = 0; u < box.nu(); ++u, iu.next_u()) {
      Xmap_base::Map_reference_coord iv = iu;
      for (int v = 0; v < box.nv(); ++v, iv.next_v()) {
        Xmap_base::Map_reference_coord iw = iv;
        for (int w = 0; w < box.nw(); ++w, ++i, iw.next_w())
          sum = add_square(sum, weight[i], T(map[iw] - target[i]));
      }
    }
    result[ix] = sum;
  }
}

}  // namespace

// ------------------------------------------------------------- FFFear_fft

template <class T> void FFFear_fft<T>::init(const Xmap<T>& map) {
  cell_volume_ = transform_map("FFFear_fft", map, map_ft_, map_sq_ft_);
}

template <class T>
bool FFFear_fft<T>::operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight,
                               const NX_operator& nx_op) const {
  const Grid_sampling& grid = map_ft_.grid_sampling();
  require_result_grid("FFFear_fft", result, grid);
  require_operator("FFFear_fft", nx_op);
  const Weight_frame frame(target, weight);
  const Grid_range box = weighted_box(weight, frame, nx_op, grid);

  FFTmap_p1 w_map(grid), wt_map(grid);
  double s = 0.0;  // the constant term sum w t^2
  for (Coord_grid c = box.min(); c.u() <= box.max().u(); c.next(box)) {
    T t, wt;
    if (!sample_fragment(target, weight, frame, nx_op, c, grid, t, wt)) continue;
    // Box points that share a cell point (a box wider than the cell) add up.
    const Coord_grid p = c.unit(grid);
    w_map.real_data(p) += float(wt);
    wt_map.real_data(p) += float(wt * t);
    s += double(t * (t * wt));
  }
  // The back transform carries the whole scale N / V^2.
  correlate(w_map, wt_map, map_ft_, map_sq_ft_, cell_volume_,
            double(grid.size()) / (cell_volume_ * cell_volume_));
  write_scores(result, w_map, 1.0, s);
  return true;
}

// ------------------------------------------------------------ FFFear_slow

template <class T>
bool FFFear_slow<T>::operator()(Xmap<T>& result, const NXmap<T>& target, const NXmap<T>& weight,
                                const NX_operator& nx_op) const {
  const Xmap<T>& map = *search_map_;
  const Grid_sampling& grid = result.grid_sampling();
  require_result_grid("FFFear_slow", result, map.grid_sampling());
  require_operator("FFFear_slow", nx_op);
  const Weight_frame frame(target, weight);
  const Grid_range box = weighted_box(weight, frame, nx_op, grid);

  // The fragment at the box points; 0 where it cannot be sampled.
  std::vector<T> t_box(box.size(), T(0)), w_box(box.size(), T(0));
  Coord_grid c = box.min();
  for (int i = 0; i < box.size(); ++i, c.next(box)) {
    T t, wt;
    if (sample_fragment(target, weight, frame, nx_op, c, grid, t, wt)) {
      t_box[i] = t;
      w_box[i] = wt;
    }
  }
  sum_directly(result, map, box, box.min(), t_box, w_box);
  return true;
}

// ------------------------------------------------------- FFFear_fft_basic

void FFFear_fft_basic::init(const Xmap<float>& map) {
  cell_volume_ = transform_map("FFFear_fft_basic", map, map_ft_, map_sq_ft_);
}

bool FFFear_fft_basic::operator()(Xmap<float>& result, const NXmap<float>& target,
                                  const NXmap<float>& weight) const {
  const Grid_sampling& grid = map_ft_.grid_sampling();
  require_result_grid("FFFear_fft_basic", result, grid);
  require_one_grid("FFFear_fft_basic", target, weight);
  const Box_values box = basic_box(target, weight);
  const Grid& g = target.grid();
  const Coord_grid centre = box_centre(g);

  FFTmap_p1 w_map(grid), wt_map(grid);
  double s = 0.0;
  Coord_grid c(0, 0, 0);
  for (int i = 0; i < g.size(); ++i, c.next(g)) {
    const double t = box.target[i], wt = box.weight[i];
    // Box points that share a cell point (a box wider than the cell) add up.
    const Coord_grid p = (c - centre).unit(grid);
    w_map.real_data(p) += float(wt);
    wt_map.real_data(p) += float(wt * t);
    s = std::fma(t, t * wt, s);
  }
  // Back transform scaled by 1/V, the remaining N/V applied in double.
  correlate(w_map, wt_map, map_ft_, map_sq_ft_, cell_volume_, 1.0 / cell_volume_);
  write_scores(result, w_map, double(grid.size()) / cell_volume_, s);
  return true;
}

// ------------------------------------------------------ FFFear_slow_basic

bool FFFear_slow_basic::operator()(Xmap<float>& result, const NXmap<float>& target,
                                   const NXmap<float>& weight) const {
  require_result_grid("FFFear_slow_basic", result, search_map_->grid_sampling());
  require_one_grid("FFFear_slow_basic", target, weight);
  const Box_values box = basic_box(target, weight);
  sum_directly(result, *search_map_, target.grid(), -box_centre(target.grid()), box.target,
               box.weight);
  return true;
}

template class FFFear_base<float>;
template class FFFear_base<double>;
template class FFFear_fft<float>;
template class FFFear_fft<double>;
template class FFFear_slow<float>;
template class FFFear_slow<double>;

}  // namespace vantrel
