#include "render/pre_render_data.h"

#include <atomic>

#include "shell/suite_cache.h"

namespace qv {
namespace {

std::atomic<SPBasicSuite*> g_basic_suite{nullptr};

}  // namespace

void RememberBasicSuite(SPBasicSuite* basic) { g_basic_suite.store(basic); }

void DeletePreRenderData(void* pre_render_data) {
  SPBasicSuite* basic = g_basic_suite.load();
  if (pre_render_data == nullptr || basic == nullptr) return;
  // A callback from the host: nothing may leave it by an exception. If the
  // handle suite cannot be had, the handle stays with the host.
  try {
    SuiteCache suites(basic);
    suites.HandleSuite().host_dispose_handle(static_cast<PF_Handle>(pre_render_data));
  } catch (...) {
  }
}

}  // namespace qv
