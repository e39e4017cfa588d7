// Includes and small helpers shared by the map tests.
#ifndef VANTREL_TESTS_MAPS_MAPS_TESTING_H
#define VANTREL_TESTS_MAPS_MAPS_TESTING_H

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "maps/nxmap.h"
#include "maps/xmap.h"
#include "reflections/hkl_data.h"
#include "support/testing.h"

namespace maps_testing {

//! A grid sampling of exactly nu x nv x nw points.
inline vantrel::Grid_sampling sampling(int nu, int nv, int nw) {
  vantrel::Grid_sampling s;
  static_cast<vantrel::Grid&>(s) = vantrel::Grid(nu, nv, nw);
  return s;
}

using vantrel_testing::fatal_text;

}  // namespace maps_testing

#endif
