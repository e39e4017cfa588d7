// The simulation's phase errors keep their place in the random sequence:
// an exact figure of merit (1) changes no phase but still takes the draws of
// its 100 rejected tries, so every later reflection sees the same draws as
// for any other figure of merit.
#include <gtest/gtest.h>

#include <vector>

#include "app/map_simulate.h"
#include "foundation/util.h"

using vantrel::Util;

namespace {

// Replays one pair of draws over and over, counting them.
class Repeated_draws : public Random_source {
 public:
  Repeated_draws(int angle, int acceptance) : pair_{angle, acceptance} {}
  int draw() override { return pair_[count_++ % 2]; }
  int count() const { return count_; }

 private:
  int pair_[2];
  int count_ = 0;
};

}  // namespace

TEST(PhaseError, ExactFigureOfMeritRejectsEveryTryAndTakesItsDraws) {
  // Angle draw 500 is a turn of pi; acceptance draw 0 accepts it while
  // exp(-2 kappa) > 0 (kappa about 50 at m = 0.99).
  Repeated_draws near_one(500, 0);
  EXPECT_NEAR(MapSimulate::phase_error(0.99, false, near_one), Util::pi(), 1e-12);
  EXPECT_EQ(near_one.count(), 2);

  for (const double m : {1.0, 1.5}) {
    Repeated_draws exact(500, 0);
    EXPECT_EQ(MapSimulate::phase_error(m, false, exact), 0.0) << m;
    EXPECT_EQ(exact.count(), 200) << m;
  }
  // Centric: one draw whatever the figure of merit, never turned at 1.
  Repeated_draws centric(999, 999);
  EXPECT_EQ(MapSimulate::phase_error(1.0, true, centric), 0.0);
  EXPECT_EQ(centric.count(), 1);
}

TEST(PhaseError, ReflectionsAfterAnExactOneSeeTheSequenceMovedOn) {
  // The C library sequence: after a figure of merit of 1 the next reflection
  // draws what it would draw 200 places on, as after 100 rejected tries.
  C_rand_sequence run(1), reference(1);
  ASSERT_EQ(MapSimulate::phase_error(1.0, false, run), 0.0);
  for (int i = 0; i < 200; ++i) reference.draw();
  for (const double m : {0.3, 0.0, 0.8, 0.95}) {
    EXPECT_EQ(MapSimulate::phase_error(m, false, run),
              MapSimulate::phase_error(m, false, reference))
        << m;
    EXPECT_EQ(MapSimulate::phase_error(m, true, run), MapSimulate::phase_error(m, true, reference))
        << m;
  }
  EXPECT_EQ(run.draw(), reference.draw());
}
