#include "app/rand_sequence.h"

C_rand_sequence::C_rand_sequence(unsigned int seed) : front_(separation), rear_(0) {
  std::int32_t word = std::int32_t(seed == 0 ? 1u : seed);
  state_[0] = std::uint32_t(word);
  // 16807 word mod (2^31 - 1) by Schrage's method, in glibc's signed form.
  for (int i = 1; i < degree; ++i) {
    const std::int64_t hi = word / 127773, lo = word % 127773;
    std::int64_t next = 16807 * lo - 2836 * hi;
    if (next < 0) next += 2147483647;
    word = std::int32_t(next);
    state_[i] = std::uint32_t(word);
  }
  for (int i = 0; i < 10 * degree; ++i) draw();
}

int C_rand_sequence::draw() {
  state_[front_] += state_[rear_];
  const int result = int(state_[front_] >> 1);
  if (++front_ == degree) front_ = 0;
  if (++rear_ == degree) rear_ = 0;
  return result;
}
