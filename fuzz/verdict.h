#pragma once

// How a fuzz target ends a run on a broken rule: the case and every broken
// rule on stderr, then abort, so that libFuzzer keeps the input (and the
// corpus replay fails on it).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qv::fuzz {

inline void AbortOnProblems(const std::string& what, const std::vector<std::string>& problems) {
  if (problems.empty()) return;
  std::fprintf(stderr, "%s\n", what.c_str());
  for (const std::string& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
  std::abort();
}

}  // namespace qv::fuzz
