// Includes and small helpers shared by the map tests.
#ifndef VANTREL_TESTS_MAPS_MAPS_TESTING_H
#define VANTREL_TESTS_MAPS_MAPS_TESTING_H

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "maps/nxmap.h"
#include "maps/xmap.h"
#include "reflections/hkl_data.h"

namespace maps_testing {

//! A grid sampling of exactly nu x nv x nw points.
inline vantrel::Grid_sampling sampling(int nu, int nv, int nw) {
  vantrel::Grid_sampling s;
  static_cast<vantrel::Grid&>(s) = vantrel::Grid(nu, nv, nw);
  return s;
}

//! The text of the fatal message that operation raises (printed nowhere), or "no error".
template <class F>
std::string fatal_text(F&& operation) {
  std::ostringstream quiet;
  vantrel::Message::set_stream(quiet);
  std::string text = "no error";
  try {
    operation();
  } catch (const vantrel::Message_fatal& m) {
    text = m.text();
  }
  vantrel::Message::set_stream(std::cerr);
  return text;
}

}  // namespace maps_testing

#endif
