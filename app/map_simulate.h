// Reference-data simulation: reference amplitudes rescaled to the work data's
// intensity fall-off, and reference phases degraded to the work data's
// figures of merit, so that targets learned from the reference map match the
// density of the work map.
#ifndef QUELVARN_APP_MAP_SIMULATE_H
#define QUELVARN_APP_MAP_SIMULATE_H

#include <vector>

#include "app/rand_sequence.h"
#include "reflections/hkl_data.h"

//! Degrades reference data to the amplitude and phase quality of work data.
/*! Reflections of each set are binned by resolution rank (n_reso bins of
  equal counts) and class; within a bin the reference reflection of relative
  normalised-amplitude rank r takes the figure of merit of the work
  reflection of the same rank, and its phase is then moved by a random error
  drawn from the von Mises distribution whose mean cosine is that figure of
  merit (a centric phase is turned by pi with probability (1 - m) / 2). */
class MapSimulate {
 public:
  //! n_reso resolution bins (at least 1); work centric bins holding fewer
  //! than n_phase reflections are filled from their neighbours.
  MapSimulate(int n_reso, int n_phase);

  //! Orders reflection indices by ascending normalised amplitude E.
  class EMagCompare {
   public:
    explicit EMagCompare(const vantrel::HKL_data<vantrel::datatypes::E_sigE<float> >& e) : e_(&e) {}
    bool operator()(const int& a, const int& b) const { return (*e_)[a].E() < (*e_)[b].E(); }

   private:
    const vantrel::HKL_data<vantrel::datatypes::E_sigE<float> >* e_;
  };

  //! Fills sim_f (only where ref_f is present; other entries untouched) and
  //! sim_hl (every entry) on the reference list from the reference data
  //! ref_f, ref_hl and the work data wrk_f, wrk_hl on the work list. Draws
  //! come from the process-wide rand(), in reflection order: per acentric
  //! try an angle then an acceptance, one per centric reflection. Always
  //! returns true.
  bool operator()(vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& sim_f,
                  vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& sim_hl,
                  const vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& ref_f,
                  const vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& ref_hl,
                  const vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& wrk_f,
                  const vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& wrk_hl) const;
  //! The same, with the draws taken from draws instead of rand().
  bool operator()(vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& sim_f,
                  vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& sim_hl,
                  const vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& ref_f,
                  const vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& ref_hl,
                  const vantrel::HKL_data<vantrel::datatypes::F_sigF<float> >& wrk_f,
                  const vantrel::HKL_data<vantrel::datatypes::ABCD<float> >& wrk_hl,
                  Random_source& draws) const;

  //! Lists of reflection indices, one per resolution bin.
  typedef std::vector<std::vector<int> > Bin_table;

  //! Each list holding fewer than n_min indices gets appended, whole, the
  //! original lists at offsets 1, -1, 2, -2, ... until it holds n_min or
  //! more or the offsets reach the table's size.
  static void fill_from_neighbours(Bin_table& bins, const int& n_min);
  //! A random phase error in radians for figure of merit m: from the von
  //! Mises distribution of mean cosine m by rejection on 1000 steps around
  //! the circle (two draws per try, at most 100 tries, then 0; when m is 1
  //! or more every try is rejected: 0 after 200 draws); centric, pi with
  //! probability about (1 - m) / 2 (one draw).
  static double phase_error(const double& m, const bool& centric, Random_source& draws);
  //! Position in a list of n_wrk of the same relative rank as position i in
  //! a list of n_ref: floor(i n_wrk / n_ref).
  static int rank_partner(const int& i, const int& n_ref, const int& n_wrk) {
    return int(double(i) * double(n_wrk) / double(n_ref));
  }

 private:
  int n_reso;
  int n_phase;
};

#endif
