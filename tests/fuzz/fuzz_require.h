#pragma once

#include <cstdlib>

// A fuzz target's check: one that fails aborts, which libFuzzer and the replay both report.
inline void Require(bool holds) {
  if (!holds) std::abort();
}
