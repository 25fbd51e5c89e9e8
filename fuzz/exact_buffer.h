#pragma once

// A byte buffer kept from case to case, of which only the bytes asked for may
// be touched: AddressSanitizer is told that the rest of its storage is out of
// bounds, so that a read or a write past the end is caught as it would be in
// a buffer allocated at exactly that size. A fuzzer that allocated its
// buffers afresh for every case would spend much of its time in page faults
// (the sanitizer keeps freed memory out of use for a while).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif

namespace qv::fuzz {

class ExactBuffer {
 public:
  ExactBuffer() = default;
  ~ExactBuffer() { ASAN_UNPOISON_MEMORY_REGION(storage_.data(), storage_.size()); }
  ExactBuffer(const ExactBuffer&) = delete;
  ExactBuffer& operator=(const ExactBuffer&) = delete;

  // The first `size` bytes of the storage, grown if need be; their contents
  // are whatever the last case left.
  std::span<std::uint8_t> Resize(std::size_t size) {
    ASAN_UNPOISON_MEMORY_REGION(storage_.data(), storage_.size());
    if (size > storage_.size()) storage_ = std::vector<std::uint8_t>(size + size / 2);
    ASAN_POISON_MEMORY_REGION(storage_.data() + size, storage_.size() - size);
    return {storage_.data(), size};
  }

 private:
  std::vector<std::uint8_t> storage_;
};

}  // namespace qv::fuzz
