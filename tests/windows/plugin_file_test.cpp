// The finished plug-in file, loaded as the host loads it: Quorvandile.aex on
// Windows (in CI under Wine), Quorvandile.so on Linux. The host reads the
// registration resource, finds the entry point it names and drives it; the
// engine linked into this program works out what every frame must hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "forced_passes.h"
#include "frame_support.h"
#include "shell/plugin_facts.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shell/pipl.h"
#endif

namespace qv::testing {
namespace {

using simhost::Fault;
using simhost::FrameReport;
using simhost::Host;
using simhost::HostOptions;
using simhost::PiplVersion;
using simhost::World;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr PF_Err kHostCode = 0x1234;  // any code a host callback may return

// The plug-in users install, or, when the run forces the passes' choices,
// the test-only build that honours them (the other reads no environment).
const char* PluginFile() { return PassesForcedByEnvironment() ? QV_FORCIBLE_PLUGIN_FILE : QV_PLUGIN_FILE; }

std::unique_ptr<Host> LoadPlugin(HostOptions options = {}) {
  std::string error;
  auto host = Host::Load(PluginFile(), &error, std::move(options));
  EXPECT_TRUE(host) << PluginFile() << ": " << error;
  return host;
}

// What the host learns from the file before it calls anything.
TEST(PluginFile, TheResourceDeclaresTheEffect) {
  const auto host = LoadPlugin();
  ASSERT_TRUE(host);
  ASSERT_TRUE(host->pipl());
  const simhost::PiplInfo& pipl = *host->pipl();
  EXPECT_EQ(pipl.kind, "eFKT");
  EXPECT_EQ(pipl.name, "Quorvandile");
  EXPECT_EQ(pipl.category, "Zenthi");
  EXPECT_EQ(pipl.entry_point, "EntryPointFunc");
  EXPECT_EQ(pipl.pipl_version, (PiplVersion{2, 0}));
  EXPECT_EQ(pipl.spec_version, (PiplVersion{13, 0}));
  EXPECT_EQ(pipl.effect_version, 0x80601u);
  EXPECT_EQ(pipl.info_flags, 0u);
  EXPECT_EQ(pipl.global_out_flags, 0x06000000u);
  EXPECT_EQ(pipl.global_out_flags2, 0x1400u);
  EXPECT_EQ(pipl.match_name, "Quorvandile");
  EXPECT_EQ(pipl.reserved_info, 8u);
  EXPECT_THAT(pipl.keys, ElementsAre("kind", "name", "catg", "8664", "ePVR", "eSVR", "eVER",
                                     "eINF", "eGLO", "eGL2", "eMNA", "aeFL"));
  EXPECT_THAT(host->Violations(), IsEmpty());
}

// Setup, parameters, UI, keyframed frames and setdown, with the host checking
// every call: suites balanced, handles disposed, flags as declared.
TEST(PluginFile, AWholeRunIsCleanInStrictMode) {
  const auto host = LoadPlugin();
  ASSERT_TRUE(host);
  EXPECT_EQ(host->About(), std::string("Quorvandile, v1.0.0\r") + facts::kAboutNotice);
  host->SetInput(RandomLayer(37, 19, PF_PixelFormat_ARGB64, 5));
  host->SetParamKey(kParamGamma, 0, 0.6);
  host->SetParamKey(kParamGamma, 3, 2.4);
  host->SetParam(kParamTones, simhost::PopupValue{4});
  int frames = 0;
  EXPECT_EQ(host->Run(0, 4,
                      [&](const FrameReport& frame) {
                        EXPECT_EQ(frame.err(), PF_Err_NONE) << frame.frame;
                        EXPECT_TRUE(frame.rendered);
                        EXPECT_TRUE(frame.delete_called);
                        ++frames;
                      }),
            PF_Err_NONE);
  EXPECT_EQ(frames, 4);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

// Every depth at thread counts from one to more bands than rows: the frame is
// the engine's toning of the layer, byte for byte.
class PluginFileFrames : public ::testing::TestWithParam<std::tuple<PF_PixelFormat, A_long>> {};

TEST_P(PluginFileFrames, EveryFrameIsTheEnginesToning) {
  const auto [format, threads] = GetParam();
  HostOptions options;
  options.num_threads = threads;
  options.row_padding_bytes = 48;
  const auto host = LoadPlugin(options);
  ASSERT_TRUE(host);
  const World layer = RandomLayer(53, 29, format, static_cast<std::uint32_t>(threads), 32);
  host->SetInput(layer);
  ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);

  std::mt19937 rng(static_cast<std::uint32_t>(format) ^ static_cast<std::uint32_t>(threads));
  HostValues pentone;
  pentone.base_on = 2;
  pentone.tones = 4;
  pentone.gamma = 1.8;
  pentone.blend = 25 * 65536;
  pentone.shadows_opacity = 30 * 65536;
  for (const HostValues& values : {pentone, RandomValues(rng), RandomValues(rng)}) {
    Apply(*host, values);
    const FrameReport frame = host->RenderFrame(0);
    ASSERT_EQ(frame.err(), PF_Err_NONE);
    ASSERT_TRUE(frame.output);
    EXPECT_TRUE(frame.output->SamePixels(EngineToned(layer, ExpectedParams(values))))
        << "Base On " << values.base_on << ", Tones " << values.tones << ", Gamma " << values.gamma;
  }
  EXPECT_EQ(host->CountOf("iterate_generic"), 3u);
  EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(host->LiveHandles(), IsEmpty());
  EXPECT_THAT(host->Violations(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    DepthsAndThreads, PluginFileFrames,
    ::testing::Combine(::testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64,
                                         PF_PixelFormat_ARGB128),
                       ::testing::Values(1, 2, 3, 4, 7, 64)),
    [](const auto& info) {
      return FormatName(std::get<0>(info.param)) + "_" + std::to_string(std::get<1>(info.param)) +
             "threads";
    });

// Whatever floating-point state the host keeps its threads in (flush-to-zero,
// denormals-are-zero, rounding toward zero, the x87 unit's too, which the
// Windows runtime's pow uses), the file renders the ordinary frames and gives
// the threads back as they were.
class PluginFileFloatState : public ::testing::TestWithParam<PF_PixelFormat> {};

TEST_P(PluginFileFloatState, TheHostThreadsStateChangesNoByte) {
  ExpectTheThreadsFloatStateChangesNothing([](HostOptions options) { return LoadPlugin(std::move(options)); },
                                           GetParam());
}

INSTANTIATE_TEST_SUITE_P(Depths, PluginFileFloatState,
                         ::testing::Values(PF_PixelFormat_ARGB32, PF_PixelFormat_ARGB64, PF_PixelFormat_ARGB128),
                         [](const auto& info) { return FormatName(info.param); });

// Failures made by the host come back from the library as codes. The strict
// host also records any exception that leaves the entry point, so an empty
// violation list says that none did.
class PluginFileFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    host = LoadPlugin();
    ASSERT_TRUE(host);
    host->SetInput(RandomLayer(16, 9, PF_PixelFormat_ARGB32, 3));
  }
  void SetUpParams() {
    ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);
  }
  // After a failure only the global handle is left, and setdown takes it.
  void ExpectCleanEnd() {
    EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE);
    EXPECT_THAT(host->LiveHandles(), IsEmpty());
    EXPECT_THAT(host->Violations(), IsEmpty());
  }

  std::unique_ptr<Host> host;
};

// The suite cache raises the host's refusal as a C++ exception deep inside the
// library; only the library's own handler may catch it, whichever command it
// happens in.
TEST_F(PluginFileFaults, ARefusedSuiteComesBackAsBadCallbackParam) {
  for (const char* suite : {kPFHandleSuite, kAEGPUtilitySuite, kPFParamUtilsSuite,
                            kAEGPIterateSuite, kPFIterate8Suite, kPFWorldSuite}) {
    const auto refusing = LoadPlugin();
    ASSERT_TRUE(refusing);
    refusing->SetInput(RandomLayer(16, 9, PF_PixelFormat_ARGB32, 3));
    refusing->RefuseSuite(suite);
    EXPECT_EQ(refusing->Run(0, 1), PF_Err_BAD_CALLBACK_PARAM) << suite;
    EXPECT_THAT(refusing->Violations(), Not(Contains(HasSubstr("exception")))) << suite;
  }

  // The handle suite first fails global setup, then a frame.
  host->RefuseSuite(kPFHandleSuite);
  EXPECT_EQ(host->GlobalSetup(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host->GlobalData(), nullptr);
  host->ClearFaults();
  SetUpParams();
  host->RefuseSuite(kPFHandleSuite);
  EXPECT_EQ(host->RenderFrame(0).err(), PF_Err_BAD_CALLBACK_PARAM);
  host->ClearFaults();
  ExpectCleanEnd();
}

TEST_F(PluginFileFaults, HandleAllocationFailures) {
  host->InjectFault({.op = "host_new_handle"});
  EXPECT_EQ(host->GlobalSetup(), PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(host->GlobalData(), nullptr);
  SetUpParams();
  host->InjectFault({.op = "host_new_handle"});
  const FrameReport frame = host->RenderFrame(0);
  EXPECT_EQ(frame.err(), PF_Err_OUT_OF_MEMORY);
  EXPECT_FALSE(frame.rendered);
  ExpectCleanEnd();
}

// A host callback's own code passes through unchanged, wherever it fails.
TEST_F(PluginFileFaults, HostCodesPassThrough) {
  host->InjectFault({.op = "AEGP_RegisterWithAEGP", .error = kHostCode});
  EXPECT_EQ(host->GlobalSetup(), kHostCode);
  EXPECT_EQ(host->GlobalData(), nullptr);
  SetUpParams();
  for (const char* op : {"checkout_param", "checkout_layer", "checkout_layer_pixels",
                         "checkout_output", "iterate_generic"}) {
    host->InjectFault({.op = op, .error = kHostCode});
    EXPECT_EQ(host->RenderFrame(0).err(), kHostCode) << op;
  }
  // The frame after them renders.
  EXPECT_EQ(host->RenderFrame(0).err(), PF_Err_NONE);
  ExpectCleanEnd();
}

// A host that sends the plain render instead of smart render gets a failure
// it shows the user, and its output world back as it handed it in.
TEST_F(PluginFileFaults, ThePlainRenderFailsWithAMessage) {
  SetUpParams();
  host->options().output_fill = 0x6B;
  EXPECT_EQ(host->SendCommand(PF_Cmd_RENDER), PF_Err_BAD_CALLBACK_PARAM);
  const PF_OutData& out = host->LastOutData();
  EXPECT_EQ(out.out_flags, PF_OutFlag_DISPLAY_ERROR_MESSAGE);
  EXPECT_STREQ(out.return_msg,
               "Quorvandile renders only in After Effects' smart render, not in this host's plain render.");
  const World* output = host->RawOutput();
  ASSERT_NE(output, nullptr);
  World filled(output->width(), output->height(), output->format());
  filled.FillPixelBytes(0x6B);
  EXPECT_TRUE(output->SamePixels(filled));
  EXPECT_EQ(host->RenderFrame(0).err(), PF_Err_NONE);
  ExpectCleanEnd();
}

#ifdef _WIN32
// Resources as Windows sees them: each in US English only, the registration
// resource byte for byte the one description.
std::vector<LANGID> LanguagesOf(HMODULE module, LPCSTR type, LPCSTR name) {
  std::vector<LANGID> languages;
  EnumResourceLanguagesA(
      module, type, name,
      [](HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) -> BOOL {
        reinterpret_cast<std::vector<LANGID>*>(found)->push_back(language);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(&languages));
  return languages;
}

std::string ResourceText(HMODULE module, LPCSTR type, LPCSTR name) {
  HRSRC found = FindResourceExA(module, type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return data ? std::string(data, SizeofResource(module, found)) : std::string();
}

class PluginFileResources : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(module, nullptr) << "LoadLibrary: " << GetLastError(); }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  HMODULE module = LoadLibraryA(QV_PLUGIN_FILE);
};

TEST_F(PluginFileResources, PiplIsUsEnglishAndTheOneDescription) {
  const LANGID us_english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  EXPECT_THAT(LanguagesOf(module, "PIPL", MAKEINTRESOURCEA(16000)), ElementsAre(us_english));
  const std::string bytes = ResourceText(module, "PIPL", MAKEINTRESOURCEA(16000));
  EXPECT_EQ(bytes, std::string(pipl::kResource.begin(), pipl::kResource.end()));
}

TEST_F(PluginFileResources, ManifestAsksForNoElevation) {
  EXPECT_THAT(LanguagesOf(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2)),
              ElementsAre(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
  const std::string manifest = ResourceText(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(2));
  EXPECT_THAT(manifest,
              HasSubstr(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"));
}

TEST_F(PluginFileResources, TheEntryPointIsFoundByItsPlainName) {
  EXPECT_NE(GetProcAddress(module, "EntryPointFunc"), nullptr);
}
#endif

}  // namespace
}  // namespace qv::testing
