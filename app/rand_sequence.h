// Pseudo-random integer sequences: the interface through which a calculation
// takes its draws, and the C library's default rand() sequence reproduced.
#ifndef QUELVARN_APP_RAND_SEQUENCE_H
#define QUELVARN_APP_RAND_SEQUENCE_H

#include <cstdint>

//! A source of pseudo-random integers in [0, 2^31 - 1], drawn one at a time.
class Random_source {
 public:
  virtual ~Random_source() = default;
  virtual int draw() = 0;
};

//! The sequence that glibc's rand() gives after srand(seed), independent of
//! the process-wide generator and of the platform's C library.
/*! glibc's additive feedback generator (TYPE_3): 31 words seeded by the
  minimal standard generator, r[i] = r[i-31] + r[i-3] modulo 2^32, each
  output the word shifted right by one, the first 310 outputs discarded.
  A seed of 0 counts as 1, as in glibc. Never seeding is seed 1. */
class C_rand_sequence : public Random_source {
 public:
  explicit C_rand_sequence(unsigned int seed = 1);
  int draw() override;

 private:
  static constexpr int degree = 31;     // words of state
  static constexpr int separation = 3;  // lag between the two taps
  std::uint32_t state_[degree];
  int front_, rear_;
};

#endif
