// The host's parameter store: the definitions the effect registered, checked
// as the host checks them, and the values (constant or keyframed) that the
// test sets, read at any time.
#ifndef SIMHOST_SRC_PARAM_STORE_H
#define SIMHOST_SRC_PARAM_STORE_H

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host_api/ae_params.h"
#include "simhost/param_value.h"

namespace simhost::detail {

// A definition's name, which need not be terminated within its field.
std::string NameOf(const PF_ParamDef& def);

class ParamStore {
 public:
  // Forgets the definitions (values set by index stay).
  void ClearDefinitions();

  // Registers a definition as add_param does. Misuse is appended to
  // `problems`; the result is the code the plug-in gets back.
  PF_Err Add(PF_ParamIndex index, const PF_ParamDef* def, std::vector<std::string>& problems);
  // Problems that only the end of registration shows (groups left open).
  std::vector<std::string> FinishRegistration() const;

  A_long Count() const { return static_cast<A_long>(entries_.size()); }  // indices 1..Count()
  const PF_ParamDef& Registered(PF_ParamIndex index) const;              // throws std::out_of_range
  std::optional<PF_ParamIndex> Find(std::string_view name) const;
  void SetUiFlags(PF_ParamIndex index, PF_ParamUIFlags flags);

  // Values. A value for a registered parameter must fit its kind
  // (std::invalid_argument otherwise); one set earlier is checked by
  // MismatchedValues() once the definitions are known.
  void Set(PF_ParamIndex index, ParamValue value);
  void SetKey(PF_ParamIndex index, A_long time, ParamValue value);
  std::vector<std::string> MismatchedValues() const;

  // The value at `what_time` (in units of 1/time_scale s); keys are in units
  // of 1/host_scale s. Throws std::invalid_argument for a parameter that has
  // no value kind, std::out_of_range for an unregistered index.
  ParamValue ValueAt(PF_ParamIndex index, A_long what_time, A_u_long time_scale, A_u_long host_scale) const;
  // The registered definition with the value at that time in its value member.
  PF_ParamDef DefinitionAt(PF_ParamIndex index, A_long what_time, A_u_long time_scale,
                           A_u_long host_scale) const;

 private:
  struct Entry {
    PF_ParamDef def;
    std::string popup_names;  // the host's copy; def.u.pd.u.namesptr points here
  };
  struct Key {
    A_long time;
    ParamValue value;
  };
  void CheckFits(PF_ParamIndex index, const ParamValue& value) const;

  std::deque<Entry> entries_;  // entries_[i] is index i + 1; a deque keeps the name copies in place
  int open_groups_ = 0;
  std::map<PF_ParamIndex, std::vector<Key>> values_;  // keys sorted by time; one key = constant
};

}  // namespace simhost::detail

#endif
