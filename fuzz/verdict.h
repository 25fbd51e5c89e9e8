#pragma once

// How a fuzz target ends a run on a broken rule: the case and every broken
// rule on stderr, then abort, so that libFuzzer keeps the input (and the
// corpus replay fails on it).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qv::fuzz {

// `what` describes the case: called only when a rule broke, since describing
// every case would cost a run more than many cases do.
template <class Describe>
void AbortOnProblems(const std::vector<std::string>& problems, const Describe& what) {
  if (problems.empty()) return;
  std::fprintf(stderr, "%s\n", std::string(what()).c_str());
  for (const std::string& p : problems) std::fprintf(stderr, "  %s\n", p.c_str());
  std::abort();
}

}  // namespace qv::fuzz
