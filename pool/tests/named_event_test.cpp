#include "pool/named_event.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pool/tests/pool_test_support.h"

namespace varnel {
namespace {

using testing::eventually;

TEST(NamedEvent, EmptyInstanceFailsWithoutBlocking) {
  NamedEvent event;
  EXPECT_FALSE(event.isValid());
  EXPECT_FALSE(event.set());
  EXPECT_FALSE(event.reset());
  EXPECT_FALSE(event.pulse());
  EXPECT_FALSE(event.wait());  // no limit, yet returns: there is nothing to wait on
  EXPECT_TRUE(event.close());  // closing nothing succeeds
  EXPECT_EQ(event.handle(), nullptr);
}

TEST(NamedEvent, ResetModesAndInitialState) {
  struct Case {
    const char* reason;
    bool manualReset;
    bool initiallySet;
    bool firstWait;
    bool secondWait;
  };
  const Case cases[] = {
      {"auto-reset set: the first wait consumes the signal", false, true, true, false},
      {"manual-reset set: stays set for every waiter", true, true, true, true},
      {"auto-reset not set: wait(0) only tests", false, false, false, false},
      {"manual-reset not set", true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    NamedEvent event;
    ASSERT_TRUE(event.create(c.manualReset, c.initiallySet));
    EXPECT_EQ(event.wait(0), c.firstWait);
    EXPECT_EQ(event.wait(0), c.secondWait);
    EXPECT_TRUE(event.set());
    EXPECT_TRUE(event.reset());
    EXPECT_FALSE(event.wait(0)) << "reset clears the signal";
    EXPECT_FALSE(event.wait(5)) << "a short time-out passes without a signal";
  }
}

TEST(NamedEvent, CreateTwiceKeepsTheFirstEvent) {
  NamedEvent event;
  ASSERT_TRUE(event.create(true, true));
  const EventHandle first = event.handle();
  EXPECT_TRUE(event.create(false, false));
  EXPECT_EQ(event.handle(), first);
  EXPECT_TRUE(event.wait(0));
  EXPECT_TRUE(event.wait(0)) << "still the manual-reset, set event";
}

TEST(NamedEvent, HandleOverTakesOwnership) {
  EventHandle taken;
  {
    NamedEvent event;
    ASSERT_TRUE(event.create(false, false));
    taken = event.handle(nullptr);
    EXPECT_FALSE(event.isValid());
    EXPECT_FALSE(event.set()) << "the instance holds nothing after handing over";
  }
  ASSERT_NE(taken, nullptr);
  EXPECT_TRUE(taken->set()) << "destroying the instance left the event open";
  EXPECT_TRUE(taken->wait(0));

  NamedEvent adopter;
  EXPECT_EQ(adopter.handle(taken), nullptr) << "returns what was held before";
  EXPECT_TRUE(adopter.set());
  EXPECT_TRUE(taken->wait(0)) << "both refer to one object";
}

TEST(NamedEvent, NamesShareOneObjectWhileAHandleLives) {
  NamedEvent creator;
  ASSERT_TRUE(creator.create(true, false, "pool-test-event"));
  NamedEvent again;
  ASSERT_TRUE(again.create(false, true, "pool-test-event"));
  EXPECT_EQ(again.handle(), creator.handle()) << "create with a used name opens it";
  EXPECT_FALSE(again.wait(0)) << "the existing event keeps its own state";

  NamedEvent opener;
  ASSERT_TRUE(opener.open("pool-test-event"));
  EXPECT_TRUE(opener.set());
  EXPECT_TRUE(creator.wait(0));

  NamedEvent missing;
  EXPECT_FALSE(missing.open("no-such-event"));
  EXPECT_FALSE(missing.open(""));

  creator.close();
  again.close();
  opener.close();
  NamedEvent late;
  EXPECT_FALSE(late.open("pool-test-event")) << "the name dies with its last handle";
}

TEST(NamedEvent, SetReleasesWaiters) {
  struct Case {
    const char* reason;
    bool manualReset;
    int releasedBySet;
  };
  const Case cases[] = {
      {"auto-reset: one set releases one waiter", false, 1},
      {"manual-reset: one set releases them all", true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EventObject event(c.manualReset, false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&] {
        if (event.wait()) ++released;
      });
    }
    ASSERT_TRUE(eventually([&] { return event.waiterCount() == 3; }));
    event.set();
    ASSERT_TRUE(eventually([&] { return released == c.releasedBySet; }));
    EXPECT_EQ(event.waiterCount(), 3 - c.releasedBySet);
    while (released < 3) {
      const int before = released;
      event.set();
      ASSERT_TRUE(eventually([&] { return released > before; }));
    }
    for (auto& waiter : waiters) waiter.join();
  }
}

TEST(NamedEvent, ASetThatMeetsAWaiterIsUsedUpByIt) {
  // Two sets while one thread waits: the first releases it, the second leaves
  // the event set, so no finished job is forgotten.
  EventObject event(false, false);
  std::atomic<int> released{0};
  std::thread waiter([&] { released = event.wait() ? 1 : 0; });
  ASSERT_TRUE(eventually([&] { return event.waiterCount() == 1; }));
  EXPECT_TRUE(event.set());
  EXPECT_TRUE(event.set());
  waiter.join();
  EXPECT_EQ(released, 1);
  EXPECT_TRUE(event.wait(0)) << "the second set was kept";
  EXPECT_FALSE(event.wait(0));
}

TEST(NamedEvent, PulseReleasesOnlyCurrentWaitersAndLeavesItUnset) {
  struct Case {
    const char* reason;
    bool manualReset;
    int releasedByPulse;
  };
  const Case cases[] = {
      {"auto-reset: a pulse releases one waiter", false, 1},
      {"manual-reset: a pulse releases every waiter", true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EventObject event(c.manualReset, false);
    EXPECT_TRUE(event.pulse());
    EXPECT_FALSE(event.wait(0)) << "a pulse with nobody waiting leaves nothing behind";

    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
      waiters.emplace_back([&] {
        if (event.wait()) ++released;
      });
    }
    ASSERT_TRUE(eventually([&] { return event.waiterCount() == 2; }));
    EXPECT_TRUE(event.pulse());
    ASSERT_TRUE(eventually([&] { return released == c.releasedByPulse; }));
    EXPECT_EQ(event.waiterCount(), 2 - c.releasedByPulse);
    EXPECT_FALSE(event.wait(0)) << "the pulse did not leave the event set";
    if (released < 2) {
      EXPECT_TRUE(event.pulse());
    }
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(released, 2);
  }
}

TEST(NamedEvent, CloseReleasesWaitersWithFailureUntilReopened) {
  EventObject event(false, false);
  std::atomic<int> results{-1};
  std::thread waiter([&] { results = event.wait() ? 1 : 0; });
  ASSERT_TRUE(eventually([&] { return event.waiterCount() == 1; }));
  event.close();
  waiter.join();
  EXPECT_EQ(results, 0);
  EXPECT_FALSE(event.set());
  EXPECT_FALSE(event.wait()) << "a closed object never blocks";
  event.reopen(true);
  EXPECT_TRUE(event.wait(0));
}

}  // namespace
}  // namespace varnel
