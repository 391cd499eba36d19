#include "image/descramble.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace keluflash {
namespace {

// The descrambling byte by byte, as the drive's tools describe it; the
// library works on eight bytes at once and must give the same bytes.
void DescrambleByteByByte(uint8_t* buffer, uint32_t length) {
    if (length == 0) return;
    uint8_t key = static_cast<uint8_t>(buffer[0] + 2);
    for (uint64_t group = 0; group * 8 < length; ++group) {
        for (unsigned j = 0; j < 8; ++j) {
            uint8_t& byte = buffer[group * 8 + j];
            byte = static_cast<uint8_t>(key + 57 * j - byte);
        }
        key = static_cast<uint8_t>(key * 35);
    }
}

TEST(DescrambleBlock, SixteenByteExampleAndItsChecksum) {
    std::vector<uint8_t> block{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0, 0, 0, 0, 0, 0, 0, 0};
    DescrambleBlock(block.data(), 16);
    const std::vector<uint8_t> expected{0x02, 0x2B, 0x54, 0x7D, 0xA6, 0xCF, 0xF8, 0x21,
                                        0x76, 0xAF, 0xE8, 0x21, 0x5A, 0x93, 0xCC, 0x05};
    EXPECT_EQ(block, expected);
    EXPECT_EQ(AddToChecksum(0, block.data(), block.size()), 0x0778);
}

TEST(DescrambleBlock, FirstByteAlwaysBecomesTwo) {
    for (unsigned first = 0; first < 256; ++first) {
        std::vector<uint8_t> block(8, 0x77);
        block[0] = static_cast<uint8_t>(first);
        DescrambleBlock(block.data(), 1);
        EXPECT_EQ(block[0], 0x02) << first;
    }
}

TEST(DescrambleBlock, LengthZeroChangesNothing) {
    std::vector<uint8_t> block(8, 0x33);
    DescrambleBlock(block.data(), 0);
    EXPECT_EQ(block, std::vector<uint8_t>(8, 0x33));
    DescrambleBlock(nullptr, 0);  // an empty block needs no buffer
}

TEST(DescrambleBlock, LastGroupIsProcessedWhole) {
    // 65,535 bytes are 8,192 groups: the 65,536th byte changes too.
    std::vector<uint8_t> block(65536, 0x11);
    DescrambleBlock(block.data(), 65535);
    std::vector<uint8_t> reference(65536, 0x11);
    DescrambleByteByByte(reference.data(), 65536);
    EXPECT_EQ(block, reference);
    EXPECT_NE(block[65535], 0x11);
    // One byte: the whole first group changes, the next does not.
    std::vector<uint8_t> small(16, 0x11);
    DescrambleBlock(small.data(), 1);
    EXPECT_NE(small[7], 0x11);
    EXPECT_EQ(small[8], 0x11);
}

TEST(DescrambleBlock, MatchesByteByByteOnRandomBlocks) {
    std::mt19937 random(7);
    for (uint32_t length : {1u, 7u, 8u, 9u, 63u, 1000u, 4099u, 65534u}) {
        std::vector<uint8_t> block((length + 7) / 8 * 8);
        for (auto& byte : block) byte = static_cast<uint8_t>(random());
        std::vector<uint8_t> reference = block;
        DescrambleBlock(block.data(), length);
        DescrambleByteByByte(reference.data(), length);
        EXPECT_EQ(block, reference) << length;
    }
}

TEST(ScrambleRun, ScramblingWithAnyKeyRoundTripsABlockThatStartsWithTwo) {
    std::mt19937 random(3);
    std::vector<uint8_t> plain(1003);
    for (auto& byte : plain) byte = static_cast<uint8_t>(random());
    plain[0] = 0x02;
    for (unsigned key : {0u, 2u, 0x5Cu, 0xFFu}) {
        std::vector<uint8_t> block = plain;
        block.resize(1008);
        ScrambleRun(block.data(), 1003, static_cast<uint8_t>(key));
        EXPECT_EQ(block[0], static_cast<uint8_t>(key - 2));
        DescrambleBlock(block.data(), 1003);
        block.resize(1003);
        EXPECT_EQ(block, plain) << key;
    }
}

TEST(AddToChecksum, SumsModulo65536InAnyLengthAndFromAnyStart) {
    std::mt19937 random(11);
    std::vector<uint8_t> data(70001);
    for (auto& byte : data) byte = static_cast<uint8_t>(random());
    for (size_t length : {size_t{0}, size_t{5}, size_t{8}, size_t{1023}, size_t{1024}, size_t{1025}, data.size()}) {
        for (size_t start : {size_t{0}, size_t{3}}) {
            if (start + length > data.size()) continue;
            uint32_t expected = 0xFFF0;
            for (size_t i = 0; i < length; ++i) expected += data[start + i];
            EXPECT_EQ(AddToChecksum(0xFFF0, data.data() + start, length), static_cast<uint16_t>(expected))
                << length << " from " << start;
        }
    }
    // All 0xFF: the lanes are at their fullest.
    std::vector<uint8_t> full(65535, 0xFF);
    EXPECT_EQ(AddToChecksum(0, full.data(), full.size()), static_cast<uint16_t>(65535u * 255u));
}

}  // namespace
}  // namespace keluflash
