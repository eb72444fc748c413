#include "device/link/port_list_cache.hpp"

#include <gtest/gtest.h>

namespace halvard {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

// The system is listed at most once per interval, names and all: a device that comes, goes or is
// swapped for another (the count unchanged) shows within the interval.
TEST(PortListCache, ListsAtMostOncePerIntervalAndReadsTheNamesEachTime) {
    Names ports{"USB MIDI 0", "VDR 1"};
    int counts = 0;
    int names = 0;
    PortListCache cache(
        500ms, [&] { return ++counts, static_cast<int>(ports.size()); },
        [&](int i) { return ++names, ports[static_cast<size_t>(i)]; });
    const auto t = PortListCache::Clock::time_point{} + 10s;
    EXPECT_EQ(cache.nextCheck(), PortListCache::Clock::time_point{}) << "never read: due at once";
    EXPECT_EQ(cache.names(t), ports);
    EXPECT_EQ(cache.nextCheck(), t + 500ms);

    ports = {"VDR 0"};
    EXPECT_EQ(cache.names(t + 499ms).size(), 2u) << "not looked at within the interval";
    EXPECT_EQ(counts, 1);
    EXPECT_EQ(cache.names(t + 500ms), ports) << "the count changed";
    EXPECT_EQ(names, 3);

    ports = {"Other 0"};
    EXPECT_EQ(cache.names(t + 1000ms), ports) << "same count, another device";
    EXPECT_EQ(counts, 3);
    ports = {"VDR 0"};
    cache.invalidate();
    EXPECT_EQ(cache.names(t + 1001ms), ports) << "read again once invalidated";
}

}  // namespace
}  // namespace halvard
