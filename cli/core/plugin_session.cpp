#include "plugin_session.h"

#include <algorithm>
#include <cstring>

#include "errors.h"

namespace qv::cli {
namespace {

std::string ReturnMessage(const simhost::Host& host) {
  const auto& msg = host.LastOutData().return_msg;
  std::string text(msg, strnlen(msg, sizeof msg));
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

}  // namespace

std::string DescribeError(PF_Err err) {
  const char* name = nullptr;
  switch (err) {
    case PF_Err_OUT_OF_MEMORY:
      name = "out of memory";
      break;
    case PF_Err_INTERNAL_STRUCT_DAMAGED:
      name = "internal structure damaged";
      break;
    case PF_Err_INVALID_INDEX:
      name = "invalid index";
      break;
    case PF_Err_UNRECOGNIZED_PARAM_TYPE:
      name = "unrecognized parameter type";
      break;
    case PF_Err_INVALID_CALLBACK:
      name = "invalid callback";
      break;
    case PF_Err_BAD_CALLBACK_PARAM:
      name = "bad callback parameter";
      break;
    default:
      break;
  }
  std::string text = std::to_string(err);
  if (name) {
    text += " (";
    text += name;
    text += ')';
  }
  return text;
}

PluginSession::PluginSession(const SessionOptions& options) : path_(options.plugin_path) {
  simhost::HostOptions host_options;
  host_options.strict = options.strict;
  host_options.num_threads = options.threads;
  std::string error;
  host_ = simhost::Host::Load(path_, &error, host_options);
  if (!host_) throw RunError("plug-in: " + error);
  CheckConduct();
  if (const PF_Err err = host_->GlobalSetup(); err != PF_Err_NONE) Fail("GLOBAL_SETUP", err);
  open_ = true;
  CheckConduct();
  if (const PF_Err err = host_->ParamsSetup(); err != PF_Err_NONE) Fail("PARAMS_SETUP", err);
  CheckConduct();
  catalog_ = ParamCatalog::FromHost(*host_);
}

PluginSession::~PluginSession() {
  if (open_) host_->GlobalSetdown();
}

const simhost::PiplInfo& PluginSession::pipl() const { return *host_->pipl(); }

std::string PluginSession::About() {
  std::string text = host_->About();
  if (host_->LastError() != PF_Err_NONE) Fail("ABOUT", host_->LastError());
  CheckConduct();
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

void PluginSession::ResetParams() {
  for (const ParamEntry& param : catalog_.entries()) {
    if (param.HasValue()) host_->SetParam(param.index, DefaultValue(param));
  }
}

void PluginSession::Apply(const ParamSetting& setting) {
  // A constant first: it replaces whatever the control held. Keyframes are at
  // frames from 0 on, so the constant (the first key's value, at time 0) adds
  // nothing the keys do not say: before the first key its value holds anyway.
  host_->SetParam(setting.index, setting.keys.front().value);
  for (const ParamKey& key : setting.keys) {
    if (key.frame) host_->SetParamKey(setting.index, host_->TimeOf(*key.frame), key.value);
  }
}

simhost::World PluginSession::Render(std::int32_t frame, simhost::World input) {
  const A_long width = input.width();
  const A_long height = input.height();
  const PF_PixelFormat format = input.format();
  host_->SetInput(std::move(input));
  simhost::FrameReport report = host_->RenderFrame(frame);
  host_->ClearInput();
  if (report.pre_render_err != PF_Err_NONE) Fail("SMART_PRE_RENDER", report.pre_render_err);
  if (report.render_err != PF_Err_NONE) Fail("SMART_RENDER", report.render_err);
  CheckConduct();
  if (!report.output) throw RunError("the plug-in rendered frame " + std::to_string(frame) + " without an output");
  if (report.output->width() != width || report.output->height() != height || report.output->format() != format) {
    throw RunError("the plug-in rendered frame " + std::to_string(frame) + " at " +
                   std::to_string(report.output->width()) + "x" + std::to_string(report.output->height()) +
                   " for an input of " + std::to_string(width) + "x" + std::to_string(height));
  }
  return std::move(*report.output);
}

void PluginSession::Close() {
  if (!open_) return;
  open_ = false;
  if (const PF_Err err = host_->GlobalSetdown(); err != PF_Err_NONE) Fail("GLOBAL_SETDOWN", err);
  CheckConduct();
}

void PluginSession::CheckConduct() {
  const std::vector<std::string> violations = host_->Violations();
  if (violations.size() <= violations_seen_) return;
  const std::string first = violations[violations_seen_];
  const std::size_t more = violations.size() - violations_seen_ - 1;
  violations_seen_ = violations.size();
  std::string message = "the plug-in misused the host: " + first;
  if (more > 0) message += " (and " + std::to_string(more) + " more)";
  throw RunError(message);
}

void PluginSession::Fail(const std::string& command, PF_Err err) {
  std::string message = "the plug-in failed in " + command + " with error " + DescribeError(err);
  if (const std::string said = ReturnMessage(*host_); !said.empty()) message += ": " + said;
  throw RunError(message);
}

}  // namespace qv::cli
