// The records and tables the host hands an effect, checked against the
// host's layout table: every member the effect must not read holds the
// host's pattern (or zeros, for a host that clears its records), and every
// function slot it must not call is a trap that says which slot it is.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fake_effect.h"
#include "simhost/host.h"
#include "simhost/layout_table.h"

namespace {

using simhost::Host;
using simhost::HostOptions;
using simhost::LayoutKind;
using simhost::LayoutRow;
using simhost::LayoutTable;
using simhost_test::Acquire;
using simhost_test::AddPopup;
using simhost_test::CommandArgs;
using simhost_test::FakeEffect;
using simhost_test::Release;
using testing::IsEmpty;
using testing::UnorderedElementsAreArray;

// Every record of one call, by its title in the layout table.
using Records = std::map<std::string, const void*>;

// The unused members of the records in `records` whose bytes are not all
// `fill`, as "<record>.<member>". The colour callbacks are an unused member
// too, but a table of traps: the trap test below sweeps them.
std::vector<std::string> UnfilledMembers(const Records& records, unsigned char fill) {
  std::vector<std::string> wrong;
  for (const LayoutRow& row : LayoutTable()) {
    const auto found = records.find(row.record);
    if (row.kind != LayoutKind::kMember || row.used || found == records.end()) continue;
    if (std::string(row.record) + "." + row.member == "PF_UtilCallbacks.colorCB") continue;
    const auto* bytes = static_cast<const unsigned char*>(found->second) + row.offset;
    for (std::size_t i = 0; i < row.size; ++i) {
      if (bytes[i] != fill) {
        wrong.push_back(std::string(row.record) + "." + row.member);
        break;
      }
    }
  }
  return wrong;
}

class HostRecordsTest : public testing::TestWithParam<bool> {
 protected:
  HostRecordsTest() {
    HostOptions options;
    options.patterned_records = GetParam();
    host = std::make_unique<Host>(&FakeEffect::Entry, options);
  }
  unsigned char Fill() const { return GetParam() ? simhost::kUnusedBytePattern : 0; }

  FakeEffect effect;
  std::unique_ptr<Host> host;
};

TEST_P(HostRecordsTest, MembersTheEffectMustNotReadHoldTheHostsFill) {
  std::vector<std::string> unfilled;
  const auto check = [&](const Records& records) {
    for (const std::string& member : UnfilledMembers(records, Fill())) unfilled.push_back(member);
  };
  const auto in_data_records = [](const CommandArgs& a) {
    return Records{{"PF_InData", a.in},
                   {"PF_InteractCallbacks", &a.in->inter},
                   {"PF_UtilCallbacks", a.in->utils},
                   {"PF_ANSICallbacks", &a.in->utils->ansi},
                   {"PF_OutData", a.out}};
  };
  effect.On(PF_Cmd_PARAMS_SETUP, [&](const CommandArgs& a) {
    check(in_data_records(a));
    a.out->num_params = 2;
    return AddPopup(a.in, "Mode", "A|B|C", 3, 2);
  });
  effect.On(PF_Cmd_SMART_PRE_RENDER, [&](const CommandArgs& a) {
    auto* extra = static_cast<PF_PreRenderExtra*>(a.extra);
    Records records = in_data_records(a);
    records["PF_PreRenderInput"] = extra->input;
    records["PF_PreRenderOutput"] = extra->output;
    PF_CheckoutResult result;
    std::memset(&result, 0xEE, sizeof result);  // the host writes every byte
    const PF_Err err = extra->cb->checkout_layer(a.in->effect_ref, 0, 0, &extra->input->output_request,
                                                 a.in->current_time, a.in->time_step, a.in->time_scale, &result);
    records["PF_CheckoutResult"] = &result;
    // The layer parameter describes the layer (a world record with no
    // pixels); a popup's value union past its own record is the host's.
    PF_ParamDef layer;
    PF_ParamDef popup;
    a.in->inter.checkout_param(a.in->effect_ref, 0, a.in->current_time, a.in->time_step, a.in->time_scale, &layer);
    a.in->inter.checkout_param(a.in->effect_ref, 1, a.in->current_time, a.in->time_step, a.in->time_scale, &popup);
    records["PF_LayerDef"] = &layer.u.ld;
    check(records);
    const auto* tail = reinterpret_cast<const unsigned char*>(&popup.u) + sizeof popup.u.pd;
    for (std::size_t i = 0; i < sizeof popup.u - sizeof popup.u.pd; ++i) {
      if (tail[i] != Fill()) {
        unfilled.push_back("popup value union byte " + std::to_string(sizeof popup.u.pd + i));
        break;
      }
    }
    EXPECT_EQ(popup.u.pd.value, 2);
    EXPECT_EQ(layer.u.ld.width, 64);
    EXPECT_EQ(layer.u.ld.data, nullptr);
    a.in->inter.checkin_param(a.in->effect_ref, &popup);
    a.in->inter.checkin_param(a.in->effect_ref, &layer);
    extra->output->result_rect = result.result_rect;
    return err;
  });
  effect.On(PF_Cmd_SMART_RENDER, [&](const CommandArgs& a) {
    auto* extra = static_cast<PF_SmartRenderExtra*>(a.extra);
    PF_EffectWorld* input = nullptr;
    PF_EffectWorld* output = nullptr;
    extra->cb->checkout_layer_pixels(a.in->effect_ref, 0, &input);
    extra->cb->checkout_output(a.in->effect_ref, &output);
    if (input == nullptr || output == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
    Records records = in_data_records(a);
    records["PF_SmartRenderInput"] = extra->input;
    check(records);
    check({{"PF_LayerDef", input}});
    check({{"PF_LayerDef", output}});
    EXPECT_NE(input->data, nullptr);
    EXPECT_EQ(input->width, 64);
    EXPECT_EQ(output->height, 48);
    return PF_Err_NONE;
  });
  ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);
  ASSERT_EQ(host->RenderFrame(0).err(), PF_Err_NONE);
  EXPECT_THAT(unfilled, IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

// Calls every slot of every table that the host fills, except the ones the
// effect uses: each answers with an error and is recorded as a violation
// naming its record and slot.
TEST_P(HostRecordsTest, EveryFunctionTheEffectMustNotCallIsATrapNamingItsSlot) {
  std::vector<std::string> called;
  std::set<std::string> swept;
  const auto sweep = [&](const Records& records) {
    for (const LayoutRow& row : LayoutTable()) {
      const auto found = records.find(row.record);
      if (row.kind != LayoutKind::kSlot || row.used || found == records.end()) continue;
      swept.insert(row.record);
      PF_UnusedSlot slot = nullptr;
      std::memcpy(&slot, static_cast<const unsigned char*>(found->second) + row.offset, sizeof slot);
      ASSERT_NE(slot, nullptr) << row.record << "." << row.member;
      // A trap takes no arguments and answers with an error code.
      const auto trap = reinterpret_cast<std::intptr_t (*)()>(slot);
      EXPECT_EQ(trap(), PF_Err_INVALID_CALLBACK) << row.record << "." << row.member;
      called.push_back(std::string(row.record) + "." + row.member);
    }
  };
  struct Suite {
    const char* title;
    const char* name;
    A_long version;
  };
  const Suite suites[] = {{"PF_HandleSuite1", kPFHandleSuite, kPFHandleSuiteVersion1},
                          {"AEGP_UtilitySuite3", kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3},
                          {"PF_ParamUtilsSuite1", kPFParamUtilsSuite, kPFParamUtilsSuiteVersion1},
                          {"AEGP_IterateSuite1", kAEGPIterateSuite, kAEGPIterateSuiteVersion1},
                          {"PF_Iterate8Suite1", kPFIterate8Suite, kPFIterate8SuiteVersion1},
                          {"PF_WorldSuite2", kPFWorldSuite, kPFWorldSuiteVersion2}};
  effect.On(PF_Cmd_SMART_PRE_RENDER, [&](const CommandArgs& a) {
    Records records{{"PF_InteractCallbacks", &a.in->inter},
                    {"PF_UtilCallbacks", a.in->utils},
                    {"PF_ANSICallbacks", &a.in->utils->ansi},
                    {"PF_ColorCallbacks", &a.in->utils->colorCB},
                    {"SPBasicSuite", a.in->pica_basicP},
                    {"PF_PreRenderCallbacks", static_cast<PF_PreRenderExtra*>(a.extra)->cb}};
    for (const Suite& s : suites) records[s.title] = Acquire<void>(a.in, s.name, s.version);
    sweep(records);
    for (const Suite& s : suites) Release(a.in, s.name, s.version);
    return PF_Err_NONE;
  });
  effect.On(PF_Cmd_SMART_RENDER, [&](const CommandArgs& a) {
    sweep({{"PF_SmartRenderCallbacks", static_cast<PF_SmartRenderExtra*>(a.extra)->cb}});
    return PF_Err_NONE;
  });
  host->RenderFrame(0);

  // Every record of the table that has a slot the effect must not call was
  // reached: a record added to the table is swept too, or this fails.
  std::set<std::string> with_unused_slots;
  for (const LayoutRow& row : LayoutTable()) {
    if (row.kind == LayoutKind::kSlot && !row.used) with_unused_slots.insert(row.record);
  }
  EXPECT_EQ(swept, with_unused_slots);
  std::vector<std::string> expected;
  for (const std::string& slot : called) {
    const std::string command = slot.starts_with("PF_SmartRenderCallbacks") ? "SMART_RENDER" : "SMART_PRE_RENDER";
    expected.push_back(command + ": called " + slot + ", a host function the effect must not use");
  }
  EXPECT_THAT(host->Violations(), UnorderedElementsAreArray(expected));
  EXPECT_EQ(host->CountOf("PF_HandleSuite1.host_get_handle_size"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Fill, HostRecordsTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "Patterned" : "Cleared";
                         });

}  // namespace
