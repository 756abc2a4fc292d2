// The rules under the ranged download that its integration tests cannot reach one by one:
// every form of Retry-After, and the window's bound while the first range keeps failing.
#include <gtest/gtest.h>

#include <vector>

#include "app/RangePlan.h"
#include "app/RetryRules.h"
#include "tests/support/TempFolder.h"

TEST(RetryWait, DoublesFromHalfASecondOrFollowsAReadableRetryAfterUpToThirtySeconds) {
  const QDateTime now(QDate(2024, 3, 1), QTime(12, 0, 0), Qt::UTC);
  struct Case {
    int retry;
    const char* retryAfter;
    qint64 waitMs;
  };
  const Case cases[] = {
      {1, "", 500},
      {3, "", 2000},
      {7, "", 30000},
      {100, "", 30000},
      {1, "0", 0},
      {1, " 7 ", 7000},
      {1, "31", 30000},
      {1, "99999999999999999999", 30000},  // too long for a number, not too long to wait
      {1, "-1", 500},
      {2, "1.5", 1000},
      {1, "soon", 500},
      // HTTP-dates, in the three forms a recipient must read.
      {1, "Fri, 01 Mar 2024 12:00:10 GMT", 10000},
      {1, "Friday, 01-Mar-24 12:00:10 GMT", 10000},
      {1, "Fri Mar  1 12:00:10 2024", 10000},
      {1, "Fri, 01 Mar 2024 11:59:00 GMT", 0},  // already past
      {1, "Fri, 01 Mar 2024 13:00:00 GMT", 30000},
      // A two-digit year more than 50 years ahead is the century before.
      {1, "Tuesday, 01-Mar-74 12:00:00 GMT", 30000},
      {1, "Wednesday, 01-Mar-75 12:00:00 GMT", 0},
      // Not dates at all.
      {1, "Fri, 30 Feb 2024 12:00:10 GMT", 500},
      {1, "Fri, 01 Mar 2024 24:00:10 GMT", 500},
      {1, "Fri, 01 Xyz 2024 12:00:10 GMT", 500},
      {1, "Fri, 01 Mar 2024 12:00:10", 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.retryAfter) + " retry " + std::to_string(c.retry));
    EXPECT_EQ(RetryWaitMs(c.retry, c.retryAfter, now), c.waitMs);
  }
}

// Memory holds at most the window, even when the first range keeps failing and the ones
// after it arrive: nothing more is asked until it is in.
TEST(RangePlan, AFailingFirstRangeHoldsTheWindowUntilItIsIn) {
  const qint64 length = 4 * kRangeSize + 10;
  const QByteArray content = PatternBytes(length);
  RangePlan plan(length, 0);
  plan.SetWindow(3);
  const auto bodyOf = [&](const PackageRange& range) { return content.mid(range.First, range.Length()); };

  const std::optional<PackageRange> first = plan.NextToAsk(0);
  const std::optional<PackageRange> second = plan.NextToAsk(0);
  const std::optional<PackageRange> third = plan.NextToAsk(0);
  ASSERT_TRUE(first && second && third);
  EXPECT_FALSE(plan.NextToAsk(0));
  plan.Arrived(*third, bodyOf(*third));
  plan.Arrived(*second, bodyOf(*second));
  EXPECT_TRUE(plan.TakeWritable().isEmpty());
  EXPECT_EQ(plan.Settled(), 2 * kRangeSize);

  plan.GiveBack(*first, 500);
  EXPECT_EQ(plan.NextRetryAt(), 500);
  EXPECT_FALSE(plan.NextToAsk(499));  // not due, and no fresh range beyond the window
  const std::optional<PackageRange> again = plan.NextToAsk(500);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->First, 0);
  EXPECT_FALSE(plan.NextRetryAt());
  plan.Arrived(*again, bodyOf(*again));
  EXPECT_EQ(plan.TakeWritable(), content.left(3 * kRangeSize));

  const std::optional<PackageRange> fourth = plan.NextToAsk(500);
  const std::optional<PackageRange> last = plan.NextToAsk(500);
  ASSERT_TRUE(fourth && last);
  EXPECT_FALSE(plan.NextToAsk(500));  // every range asked
  EXPECT_EQ(last->Header(), "bytes=131072-131082");
  plan.Arrived(*last, bodyOf(*last));
  plan.Arrived(*fourth, bodyOf(*fourth));
  EXPECT_EQ(plan.TakeWritable(), content.mid(3 * kRangeSize));
  EXPECT_TRUE(plan.Complete());
}

// After a fall back to fewer connections the window may be smaller than what is held: the
// range the held ones wait for must still be asked, or the download stalls for good.
TEST(RangePlan, AWindowShrunkBelowWhatIsHeldStillAsksTheRangeTheHeldOnesWaitFor) {
  const QByteArray content = PatternBytes(6 * kRangeSize);
  RangePlan plan(content.size(), 0);
  plan.SetWindow(4);
  std::vector<PackageRange> asked;
  while (const std::optional<PackageRange> range = plan.NextToAsk(0)) asked.push_back(*range);
  ASSERT_EQ(asked.size(), 4u);
  for (std::size_t i = 1; i < asked.size(); ++i) plan.Arrived(asked[i], content.mid(asked[i].First, kRangeSize));
  plan.GiveBack(asked[0], 100);
  plan.SetWindow(1);

  const std::optional<PackageRange> again = plan.NextToAsk(100);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->First, 0);
  EXPECT_FALSE(plan.NextToAsk(100));  // one in flight fills the window
  plan.Arrived(*again, content.left(kRangeSize));
  EXPECT_EQ(plan.TakeWritable(), content.left(4 * kRangeSize));
  const std::optional<PackageRange> next = plan.NextToAsk(100);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->First, 4 * kRangeSize);
  EXPECT_FALSE(plan.NextToAsk(100));
}
