#include "param_store.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace simhost {

FixedValue FixedFromDouble(double v) { return FixedValue{static_cast<PF_Fixed>(std::lround(v * 65536.0))}; }

namespace detail {

std::string NameOf(const PF_ParamDef& def) {
  const char* name = def.name_do_not_use_directly;
  return std::string(name, strnlen(name, sizeof def.name_do_not_use_directly));
}

namespace {

// The ParamValue alternative that holds values of `type`, if it has values.
std::optional<std::size_t> KindOf(PF_ParamType type) {
  switch (type) {
    case PF_Param_POPUP:
      return 0;
    case PF_Param_COLOR:
      return 1;
    case PF_Param_FLOAT_SLIDER:
      return 2;
    case PF_Param_FIX_SLIDER:
      return 3;
    default:
      return std::nullopt;
  }
}

ParamValue DefaultOf(const PF_ParamDef& def) {
  switch (def.param_type) {
    case PF_Param_POPUP:
      return PopupValue{def.u.pd.dephault};
    case PF_Param_COLOR:
      return def.u.cd.dephault;
    case PF_Param_FLOAT_SLIDER:
      return static_cast<double>(def.u.fs_d.dephault);
    default:
      return FixedValue{def.u.fd.dephault};
  }
}

void PutValue(PF_ParamDef& def, const ParamValue& value) {
  if (const auto* p = std::get_if<PopupValue>(&value)) def.u.pd.value = p->value;
  if (const auto* c = std::get_if<PF_Pixel>(&value)) def.u.cd.value = *c;
  if (const auto* d = std::get_if<double>(&value)) def.u.fs_d.value = *d;
  if (const auto* f = std::get_if<FixedValue>(&value)) def.u.fd.value = f->value;
}

// Between two keys: popups hold, colours round per channel, sliders are linear.
ParamValue Interpolate(const ParamValue& a, const ParamValue& b, double f) {
  if (const auto* ca = std::get_if<PF_Pixel>(&a)) {
    const auto& cb = std::get<PF_Pixel>(b);
    auto channel = [f](A_u_char x, A_u_char y) {
      return static_cast<A_u_char>(std::lround(x + (y - x) * f));
    };
    return PF_Pixel{channel(ca->alpha, cb.alpha), channel(ca->red, cb.red), channel(ca->green, cb.green),
                    channel(ca->blue, cb.blue)};
  }
  if (const auto* da = std::get_if<double>(&a)) return *da + (std::get<double>(b) - *da) * f;
  if (const auto* xa = std::get_if<FixedValue>(&a)) {
    const double x = xa->value;
    const double y = std::get<FixedValue>(b).value;
    return FixedValue{static_cast<PF_Fixed>(std::llround(x + (y - x) * f))};
  }
  return a;
}

std::string Label(PF_ParamIndex index, const PF_ParamDef& def) {
  return "parameter " + std::to_string(index) + " (\"" +
         NameOf(def) + "\")";
}

template <class T>
bool Ordered(T valid_min, T slider_min, T slider_max, T valid_max) {
  return valid_min <= slider_min && slider_min <= slider_max && slider_max <= valid_max;
}

}  // namespace

void ParamStore::ClearDefinitions() {
  entries_.clear();
  open_groups_ = 0;
}

PF_Err ParamStore::Add(PF_ParamIndex index, const PF_ParamDef* def, std::vector<std::string>& problems) {
  if (!def) {
    problems.push_back("add_param with a null definition");
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  const A_long next = Count() + 1;
  if (index != -1 && index != next) {
    problems.push_back("add_param at index " + std::to_string(index) + ": definitions are appended with index -1");
    return PF_Err_INVALID_INDEX;
  }
  if (def->param_type < PF_Param_LAYER || def->param_type > PF_Param_GROUP_END) {
    problems.push_back("add_param with unknown parameter type " + std::to_string(def->param_type));
    return PF_Err_UNRECOGNIZED_PARAM_TYPE;
  }
  Entry entry{*def, {}};
  PF_ParamDef& d = entry.def;
  if (!std::memchr(def->name_do_not_use_directly, 0, sizeof def->name_do_not_use_directly)) {
    d.name_do_not_use_directly[sizeof d.name_do_not_use_directly - 1] = 0;
    problems.push_back("name of parameter " + std::to_string(next) + " is not terminated within " +
                       std::to_string(sizeof def->name_do_not_use_directly) + " bytes");
  }
  const std::string label = Label(next, d);
  if (d.uu.id != 0) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].def.uu.id == d.uu.id) {
        problems.push_back(label + " repeats the disk id " + std::to_string(d.uu.id) + " of parameter " +
                           std::to_string(i + 1));
      }
    }
  }
  switch (d.param_type) {
    case PF_Param_POPUP: {
      if (!d.u.pd.u.namesptr) {
        problems.push_back(label + ": popup without choices");
        break;
      }
      entry.popup_names = d.u.pd.u.namesptr;
      const auto items = std::count(entry.popup_names.begin(), entry.popup_names.end(), '|') + 1;
      if (items != d.u.pd.num_choices) {
        problems.push_back(label + ": num_choices " + std::to_string(d.u.pd.num_choices) + " but " +
                           std::to_string(items) + " choices");
      }
      if (d.u.pd.dephault < 1 || d.u.pd.dephault > d.u.pd.num_choices) {
        problems.push_back(label + ": default " + std::to_string(d.u.pd.dephault) + " is not a choice");
      }
      break;
    }
    case PF_Param_FLOAT_SLIDER: {
      const auto& s = d.u.fs_d;
      if (!Ordered(s.valid_min, s.slider_min, s.slider_max, s.valid_max)) {
        problems.push_back(label + ": slider range does not lie within the valid range");
      }
      if (!(s.valid_min <= s.dephault && s.dephault <= s.valid_max)) {
        problems.push_back(label + ": default lies outside the valid range");
      }
      break;
    }
    case PF_Param_FIX_SLIDER: {
      const auto& s = d.u.fd;
      if (!Ordered(s.valid_min, s.slider_min, s.slider_max, s.valid_max)) {
        problems.push_back(label + ": slider range does not lie within the valid range");
      }
      if (s.dephault < s.valid_min || s.dephault > s.valid_max) {
        problems.push_back(label + ": default lies outside the valid range");
      }
      break;
    }
    case PF_Param_GROUP_START:
      ++open_groups_;
      break;
    case PF_Param_GROUP_END:
      if (open_groups_ == 0) {
        problems.push_back(label + ": group end without a group start");
      } else {
        --open_groups_;
      }
      break;
    default:
      break;
  }
  entries_.push_back(std::move(entry));
  Entry& stored = entries_.back();
  if (stored.def.param_type == PF_Param_POPUP && stored.def.u.pd.u.namesptr) {
    stored.def.u.pd.u.namesptr = stored.popup_names.c_str();
  }
  return PF_Err_NONE;
}

std::vector<std::string> ParamStore::FinishRegistration() const {
  if (open_groups_ == 0) return {};
  return {std::to_string(open_groups_) + " parameter group(s) not closed by a group end"};
}

const PF_ParamDef& ParamStore::Registered(PF_ParamIndex index) const {
  if (index < 1 || index > Count()) throw std::out_of_range("no parameter " + std::to_string(index));
  return entries_[static_cast<std::size_t>(index - 1)].def;
}

std::optional<PF_ParamIndex> ParamStore::Find(std::string_view name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].def.name_do_not_use_directly == name) return static_cast<PF_ParamIndex>(i + 1);
  }
  return std::nullopt;
}

void ParamStore::SetUiFlags(PF_ParamIndex index, PF_ParamUIFlags flags) {
  entries_.at(static_cast<std::size_t>(index - 1)).def.ui_flags = flags;
}

void ParamStore::CheckFits(PF_ParamIndex index, const ParamValue& value) const {
  if (index < 1) throw std::invalid_argument("parameter " + std::to_string(index) + " has no value");
  if (index > Count()) return;  // not registered yet: checked by MismatchedValues()
  const auto kind = KindOf(Registered(index).param_type);
  if (!kind || *kind != value.index()) {
    throw std::invalid_argument(Label(index, Registered(index)) + " does not take this kind of value");
  }
}

void ParamStore::Set(PF_ParamIndex index, ParamValue value) {
  CheckFits(index, value);
  values_[index] = {Key{0, std::move(value)}};
}

void ParamStore::SetKey(PF_ParamIndex index, A_long time, ParamValue value) {
  CheckFits(index, value);
  auto& keys = values_[index];
  if (!keys.empty() && keys.front().value.index() != value.index()) {
    throw std::invalid_argument("keyframes of parameter " + std::to_string(index) + " differ in kind");
  }
  const auto at = std::lower_bound(keys.begin(), keys.end(), time, [](const Key& k, A_long t) { return k.time < t; });
  if (at != keys.end() && at->time == time) {
    at->value = std::move(value);
  } else {
    keys.insert(at, Key{time, std::move(value)});
  }
}

std::vector<std::string> ParamStore::MismatchedValues() const {
  std::vector<std::string> out;
  for (const auto& [index, keys] : values_) {
    if (index > Count()) {
      out.push_back("a value was set for parameter " + std::to_string(index) + ", which was not registered");
      continue;
    }
    const auto kind = KindOf(Registered(index).param_type);
    if (!kind || *kind != keys.front().value.index()) {
      out.push_back("the value set for " + Label(index, Registered(index)) + " does not fit its kind");
    }
  }
  return out;
}

ParamValue ParamStore::ValueAt(PF_ParamIndex index, A_long what_time, A_u_long time_scale,
                               A_u_long host_scale) const {
  const PF_ParamDef& def = Registered(index);
  if (!KindOf(def.param_type)) throw std::invalid_argument(Label(index, def) + " has no value");
  const auto found = values_.find(index);
  if (found == values_.end() || found->second.empty()) return DefaultOf(def);
  const auto& keys = found->second;
  // Both times as whole units of 1/(time_scale * host_scale) s; each product
  // of a 32-bit time and a 32-bit scale fits in 64 bits.
  const std::int64_t t = std::int64_t{what_time} * host_scale;
  auto key_time = [&](const Key& k) { return std::int64_t{k.time} * time_scale; };
  if (keys.size() == 1 || t <= key_time(keys.front())) return keys.front().value;
  if (t >= key_time(keys.back())) return keys.back().value;
  std::size_t i = 1;
  while (key_time(keys[i]) <= t) ++i;  // keys[i - 1] <= t < keys[i]
  const double k0 = static_cast<double>(key_time(keys[i - 1]));
  const double k1 = static_cast<double>(key_time(keys[i]));
  return Interpolate(keys[i - 1].value, keys[i].value, (static_cast<double>(t) - k0) / (k1 - k0));
}

PF_ParamDef ParamStore::DefinitionAt(PF_ParamIndex index, A_long what_time, A_u_long time_scale,
                                     A_u_long host_scale) const {
  PF_ParamDef def = Registered(index);
  if (KindOf(def.param_type)) PutValue(def, ValueAt(index, what_time, time_scale, host_scale));
  return def;
}

}  // namespace detail
}  // namespace simhost
