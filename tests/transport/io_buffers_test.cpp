#include "transport/io_buffers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Pattern(size_t from, size_t count) {
    std::string bytes;
    for (size_t i = from; i < from + count; ++i) bytes += static_cast<char>('a' + i % 23);
    return bytes;
}

}  // namespace

TEST(ManagedBuffer, HandsOutBytesInOrderAcrossCompaction) {
    // Taking and adding in uneven steps crosses the point where consumed bytes are dropped several times.
    TIdManagedBuffer buffer;
    size_t added = 0;
    size_t taken = 0;
    while (taken < 200000) {
        std::string more = Pattern(added, 5000);
        buffer.Append(more.data(), more.size());
        added += more.size();
        while (buffer.Size() >= 777) {
            ASSERT_EQ(buffer.Extract(777), Pattern(taken, 777)) << "at " << taken;
            taken += 777;
        }
        ASSERT_EQ(buffer.View(), Pattern(taken, added - taken));
        ASSERT_EQ(buffer.Find(Pattern(taken + 3, 5), 0), buffer.Size() > 8 ? 3u : std::string::npos);
    }
}

TEST(ManagedBuffer, TakingTooMuchFailsAndKeepsTheBytes) {
    TIdManagedBuffer buffer;
    buffer.Append("abc", 3);
    try {
        buffer.Extract(4);
        FAIL() << "no error raised";
    } catch (const EIdNotEnoughDataInBuffer& error) {
        EXPECT_EQ(error.what(), std::string("Nicht genügend Daten im Puffer."));
    }
    EXPECT_EQ(buffer.Extract(3), "abc");
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(SimpleBuffer, RemovalMovesTheRestToTheFront) {
    TIdSimpleBuffer buffer;
    buffer.Append("hello world", 11);
    buffer.Remove(6);
    EXPECT_EQ(std::string(buffer.Data(), buffer.Size()), "world");
    EXPECT_THROW(buffer.Remove(6), EIdNotEnoughDataInBuffer);
    EXPECT_EQ(buffer.Size(), 5u);
}
