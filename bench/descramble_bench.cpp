// Descrambling and summing 64 KiB blocks, against a plain memcpy of the same
// buffer in the same run. Goal: descramble + checksum at no less than a tenth
// of memcpy's bandwidth.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "image/descramble.h"
#include "image/image_header.h"

namespace {

std::vector<uint8_t> RandomBlock() {
    std::vector<uint8_t> block(keluflash::kBlockBufferSize);
    uint32_t state = 12345;
    for (auto& byte : block) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return block;
}

void Memcpy(benchmark::State& state) {
    const std::vector<uint8_t> source = RandomBlock();
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
BENCHMARK(Memcpy);

// The validation's work per block: descramble in place, then add to the sum.
// Descrambling the result again costs the same, so the buffer is not refilled.
void DescrambleAndChecksum(benchmark::State& state) {
    std::vector<uint8_t> block = RandomBlock();
    uint16_t sum = 0;
    for (auto _ : state) {
        keluflash::DescrambleBlock(block.data(), static_cast<uint32_t>(block.size()));
        sum = keluflash::AddToChecksum(sum, block.data(), block.size());
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block.size()));
}
BENCHMARK(DescrambleAndChecksum);

void Descramble(benchmark::State& state) {
    std::vector<uint8_t> block = RandomBlock();
    for (auto _ : state) {
        keluflash::DescrambleBlock(block.data(), static_cast<uint32_t>(block.size()));
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block.size()));
}
BENCHMARK(Descramble);

void Checksum(benchmark::State& state) {
    const std::vector<uint8_t> block = RandomBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(keluflash::AddToChecksum(0, block.data(), block.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block.size()));
}
BENCHMARK(Checksum);

}  // namespace
