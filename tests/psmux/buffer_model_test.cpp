// The decoder-buffer model and the access-unit ring under the streams.
#include <gtest/gtest.h>

#include "psmux/pes_stream.h"

namespace psmux {
namespace {

TEST(StdBufferModel, BytesLeaveOnlyOnceTheClockHasPassedTheirDecodeTime) {
    StdBufferModel model;
    model.Init(4096);
    EXPECT_EQ(model.NextRemovalTime(), 0);
    EXPECT_EQ(model.FreeSpace(), 4096);
    model.Add(1000, 500);
    model.Add(1500, 500);  // a packet spanning two units adds a node per unit
    model.Add(700, 900);
    EXPECT_EQ(model.FreeSpace(), 4096 - 3200);
    model.RemoveUpTo(500);  // due exactly now: still there
    EXPECT_EQ(model.FreeSpace(), 4096 - 3200);
    EXPECT_EQ(model.NextRemovalTime(), 500);
    model.RemoveUpTo(501);
    EXPECT_EQ(model.FreeSpace(), 4096 - 700);
    EXPECT_EQ(model.NextRemovalTime(), 900);
    model.Clear();
    EXPECT_EQ(model.FreeSpace(), 4096);
    EXPECT_EQ(model.NextRemovalTime(), 0);
}

TEST(AccessUnitRing, GrowsPastItsFirstSlotsKeepingTheOrder) {
    AccessUnitRing ring;
    AccessUnit unit;
    uint32_t next = 0;
    // Wrap the ring first, then overfill it so that it grows while wrapped.
    for (uint32_t i = 0; i < 100; ++i) {
        unit.decodeIndex = i;
        ring.Append(unit);
    }
    for (int i = 0; i < 90; ++i) {
        ASSERT_TRUE(ring.Take(unit));
        EXPECT_EQ(unit.decodeIndex, next++);
    }
    for (uint32_t i = 100; i < 500; ++i) {
        unit.decodeIndex = i;
        ring.Append(unit);
    }
    EXPECT_EQ(ring.Waiting(), 410u);
    ASSERT_NE(ring.Peek(409), nullptr);
    EXPECT_EQ(ring.Peek(409)->decodeIndex, 499u);
    EXPECT_EQ(ring.Peek(410), nullptr);
    while (ring.Take(unit)) EXPECT_EQ(unit.decodeIndex, next++);
    EXPECT_EQ(next, 500u);
}

}  // namespace
}  // namespace psmux
