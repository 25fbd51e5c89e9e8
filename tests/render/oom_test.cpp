// Out of memory while the frame's ToneMapper is built: the entry point answers
// PF_Err_OUT_OF_MEMORY, every suite goes back, nothing is written and no
// handle is left. This program replaces the global allocation functions so
// that a test can make one chosen allocation fail; nothing else in it relies
// on them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "frame_support.h"

namespace {

// One armed failure: the next allocation whose size lies in [min, max].
std::atomic<bool> g_armed{false};
std::atomic<std::size_t> g_min_size{0};
std::atomic<std::size_t> g_max_size{0};
std::atomic<int> g_failures{0};

void* Allocate(std::size_t size) {
  if (g_armed.load() && size >= g_min_size.load() && size <= g_max_size.load() && g_armed.exchange(false)) {
    ++g_failures;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void ArmFailure(std::size_t min_size, std::size_t max_size) {
  g_min_size = min_size;
  g_max_size = max_size;
  g_failures = 0;
  g_armed = true;
}

}  // namespace

// Every replaceable form that pairs with free(), so that no allocation made
// by one library's form is given back through another's.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& nothrow) noexcept {
  return operator new(size, nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace qv::testing {
namespace {

using simhost::FrameReport;
using simhost::Host;
using simhost::World;
using ::testing::IsEmpty;

struct TableCase {
  PF_PixelFormat format;
  std::size_t table_bytes;  // the lookup table of the depth: entries x pixel size
};

class OutOfMemoryTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(OutOfMemoryTest, ATableThatCannotBeAllocatedIsOutOfMemory) {
  const TableCase c = GetParam();
  Host host = LinkedHost();
  host.options().output_fill = 0x33;
  const World layer = RandomLayer(8, 4, c.format, 3);
  host.SetInput(layer);
  ASSERT_EQ(host.GlobalSetup(), PF_Err_NONE);
  ASSERT_EQ(host.ParamsSetup(), PF_Err_NONE);

  ASSERT_EQ(host.PreRender(0), PF_Err_NONE);
  // The small worlds keep every allocation of the host's below the table's
  // size (16 bits) or away from it (8 bits); the calls below show the failure
  // hit the table, between the thread count and the iteration.
  ArmFailure(c.table_bytes, c.table_bytes == 256 * 4 ? c.table_bytes : std::numeric_limits<std::size_t>::max());
  const FrameReport frame = host.RenderPending();
  g_armed = false;
  EXPECT_EQ(g_failures.load(), 1);
  EXPECT_EQ(frame.render_err, PF_Err_OUT_OF_MEMORY);
  const auto calls = CallsIn(host, LastCallNamed(host, "SMART_RENDER"));
  EXPECT_EQ(CountOp(calls, "AEGP_GetNumThreads"), 1);
  EXPECT_EQ(CountOp(calls, "iterate_generic"), 0);
  ASSERT_TRUE(frame.output);
  EXPECT_TRUE(frame.output->SamePixels(Filled(layer, 0x33))) << "nothing written";
  EXPECT_TRUE(frame.delete_called);
  EXPECT_THAT(host.Violations(), IsEmpty()) << "every suite given back";
  EXPECT_EQ(host.LiveHandles().size(), 1u) << "only the global handle";

  // Memory back: the next frame renders.
  const FrameReport next = host.RenderFrame(1);
  ASSERT_EQ(next.err(), PF_Err_NONE);
  ASSERT_TRUE(next.output);
  EXPECT_TRUE(next.output->SamePixels(EngineToned(layer, ExpectedParams(HostValues{}))));
  EXPECT_EQ(host.GlobalSetdown(), PF_Err_NONE);
  EXPECT_THAT(host.LiveHandles(), IsEmpty());
  EXPECT_THAT(host.Violations(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Tables, OutOfMemoryTest,
                         ::testing::Values(TableCase{PF_PixelFormat_ARGB32, 256 * 4},
                                           TableCase{PF_PixelFormat_ARGB64, 32769 * 8}),
                         [](const auto& info) { return FormatName(info.param.format); });

}  // namespace
}  // namespace qv::testing
