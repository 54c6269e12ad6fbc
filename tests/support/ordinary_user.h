#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace kelvo::testing {

// The user and group nobody, which owns nothing of the test's.
inline constexpr uid_t kNobody = 65534;

// For EXPECT_EXIT: runs body as nobody when the test runs as root, who ignores file permissions,
// and ends the child with status 0 and what body returned on stderr.
[[noreturn]] inline void AsOrdinaryUser(const std::function<std::string()>& body) {
  if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) std::_Exit(2);
  std::fputs(body().c_str(), stderr);
  std::_Exit(0);
}

}  // namespace kelvo::testing
