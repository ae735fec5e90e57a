// TalkRing on its own: capacity, order, wrap and refusals.
#include <gtest/gtest.h>

#include <vector>

#include "talk/talk_ring.h"

namespace orvo::talk {
namespace {

constexpr int32_t kCapacity = 32;

std::vector<uint8_t> PacketOf(int id, int32_t length)
{
    return std::vector<uint8_t>(static_cast<size_t>(length), static_cast<uint8_t>(id));
}

TEST(TalkRing, HoldsFourteenInOrderAndWraps)
{
    TalkRing ring;
    ASSERT_TRUE(ring.Allocate(kCapacity));
    uint8_t out[kCapacity];
    int32_t length = 0;
    EXPECT_FALSE(ring.Take(out, kCapacity, &length)); // empty
    for (int i = 0; i < 14; ++i)
        ASSERT_TRUE(ring.Append(PacketOf(i, 1 + i).data(), 1 + i));
    EXPECT_FALSE(ring.Append(PacketOf(99, 4).data(), 4)); // full: dropped, ring unchanged
    EXPECT_EQ(ring.Count(), 14);
    EXPECT_EQ(ring.WriteIndex(), 14);
    for (int i = 0; i < 14; ++i) {
        ASSERT_TRUE(ring.Take(out, kCapacity, &length));
        ASSERT_EQ(length, 1 + i);
        EXPECT_EQ(std::vector<uint8_t>(out, out + length), PacketOf(i, 1 + i));
    }
    // One more through slot 14: both indices wrap to 0.
    ASSERT_TRUE(ring.Append(PacketOf(14, 3).data(), 3));
    ASSERT_TRUE(ring.Take(out, kCapacity, &length));
    EXPECT_EQ(ring.WriteIndex(), 0);
    EXPECT_EQ(ring.ReadIndex(), 0);
    EXPECT_TRUE(ring.Empty());
}

TEST(TalkRing, RefusesWhatDoesNotFit)
{
    TalkRing ring;
    ASSERT_TRUE(ring.Allocate(kCapacity));
    std::vector<uint8_t> big = PacketOf(1, kCapacity + 1);
    struct Case {
        const char *what;
        const void *data;
        int32_t length;
        bool stored;
    };
    const Case cases[] = {
        {"too long", big.data(), kCapacity + 1, false},
        {"negative", big.data(), -1, false},
        {"null with data", nullptr, 4, false},
        {"empty", nullptr, 0, true},
        {"exactly the capacity", big.data(), kCapacity, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int32_t before = ring.Count();
        EXPECT_EQ(ring.Append(c.data, c.length), c.stored);
        EXPECT_EQ(ring.Count(), before + (c.stored ? 1 : 0));
    }
    // A reader with too little room takes nothing.
    uint8_t out[kCapacity];
    int32_t length = -1;
    ASSERT_TRUE(ring.Take(out, kCapacity, &length)); // the empty packet
    EXPECT_EQ(length, 0);
    EXPECT_FALSE(ring.Take(out, kCapacity - 1, &length));
    EXPECT_FALSE(ring.Take(nullptr, kCapacity, &length));
    EXPECT_EQ(ring.Count(), 1);
    ASSERT_TRUE(ring.Take(out, kCapacity, &length));
    EXPECT_EQ(length, kCapacity);
}

TEST(TalkRing, FreedRingStoresNothing)
{
    TalkRing ring;
    ASSERT_TRUE(ring.Allocate(kCapacity));
    ring.Free();
    EXPECT_FALSE(ring.Append(PacketOf(1, 4).data(), 4));
    ring.Free(); // twice is harmless
}

} // namespace
} // namespace orvo::talk
