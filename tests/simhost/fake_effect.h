// A plug-in written in the test: every command runs the handler the test set
// for it (commands without one return 0). Helpers reach the host the way a
// plug-in does: through PF_InData and the basic suite.
#ifndef TESTS_SIMHOST_FAKE_EFFECT_H
#define TESTS_SIMHOST_FAKE_EFFECT_H

#include <cstring>
#include <functional>
#include <map>

#include "host_api/ae_all.h"

namespace simhost_test {

struct CommandArgs {
  PF_InData* in;
  PF_OutData* out;
  PF_ParamDef** params;
  PF_LayerDef* output;
  void* extra;
};

class FakeEffect {
 public:
  using Handler = std::function<PF_Err(const CommandArgs&)>;

  FakeEffect() { current_ = this; }
  ~FakeEffect() { current_ = nullptr; }
  FakeEffect(const FakeEffect&) = delete;
  FakeEffect& operator=(const FakeEffect&) = delete;

  void On(PF_Cmd cmd, Handler handler) { handlers_[cmd] = std::move(handler); }

  static PF_Err Entry(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output,
                      void* extra) {
    if (!current_) return PF_Err_INTERNAL_STRUCT_DAMAGED;
    const auto it = current_->handlers_.find(cmd);
    return it == current_->handlers_.end() ? PF_Err_NONE : it->second(CommandArgs{in, out, params, output, extra});
  }

 private:
  static inline FakeEffect* current_ = nullptr;
  std::map<PF_Cmd, Handler> handlers_;
};

template <class Suite>
const Suite* Acquire(PF_InData* in, const char* name, A_long version) {
  const void* suite = nullptr;
  return in->pica_basicP->AcquireSuite(name, version, &suite) == kSPNoError ? static_cast<const Suite*>(suite)
                                                                             : nullptr;
}

inline void Release(PF_InData* in, const char* name, A_long version) { in->pica_basicP->ReleaseSuite(name, version); }

// Registration helpers, each adding one control with index -1 as the effect does.
inline PF_Err AddDef(PF_InData* in, PF_ParamDef def, const char* name) {
  in->utils->ansi.strcpy(def.name_do_not_use_directly, name);
  return in->inter.add_param(in->effect_ref, -1, &def);
}

inline PF_Err AddPopup(PF_InData* in, const char* name, const char* choices, A_short count, A_short dflt) {
  PF_ParamDef def{};
  def.param_type = PF_Param_POPUP;
  def.u.pd.num_choices = count;
  def.u.pd.dephault = dflt;
  def.u.pd.value = dflt;
  def.u.pd.u.namesptr = choices;
  return AddDef(in, def, name);
}

inline PF_Err AddColor(PF_InData* in, const char* name, PF_Pixel dflt) {
  PF_ParamDef def{};
  def.param_type = PF_Param_COLOR;
  def.u.cd.value = def.u.cd.dephault = dflt;
  return AddDef(in, def, name);
}

inline PF_Err AddFloat(PF_InData* in, const char* name, float lo, float hi, float dflt) {
  PF_ParamDef def{};
  def.param_type = PF_Param_FLOAT_SLIDER;
  def.u.fs_d.valid_min = def.u.fs_d.slider_min = lo;
  def.u.fs_d.valid_max = def.u.fs_d.slider_max = hi;
  def.u.fs_d.dephault = dflt;
  def.u.fs_d.value = dflt;
  return AddDef(in, def, name);
}

inline PF_Err AddFixed(PF_InData* in, const char* name, PF_Fixed lo, PF_Fixed hi, PF_Fixed dflt) {
  PF_ParamDef def{};
  def.param_type = PF_Param_FIX_SLIDER;
  def.u.fd.valid_min = def.u.fd.slider_min = lo;
  def.u.fd.valid_max = def.u.fd.slider_max = hi;
  def.u.fd.value = def.u.fd.dephault = dflt;
  return AddDef(in, def, name);
}

}  // namespace simhost_test

#endif
