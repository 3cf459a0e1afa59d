#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KvObjectPool.h"

using namespace korvane;
using namespace std::chrono_literals;

TEST(ObjectPoolTest, AcquireReleaseGrowthAndLastInFirstOut) {
    KvObjectPoolWrapper<EventVector> pool(2);
    auto a = pool.acquire();
    auto b = pool.acquire();
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(pool.size(), 0u);
    EXPECT_TRUE(pool.empty());

    b.reset();
    EXPECT_EQ(pool.size(), 1u);
    auto c = pool.acquire();
    auto d = pool.acquire();  // unbounded: a new object, not a wait
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->empty());
    EventVector* rawD = d.get();
    d->assign(3, Event2D(1, 2, 1, 5));
    c.reset();
    d.reset();
    auto next = pool.acquire();  // last in, first out, contents kept
    EXPECT_EQ(next.get(), rawD);
    ASSERT_EQ(next->size(), 3u);
    EXPECT_EQ((*next)[2], Event2D(1, 2, 1, 5));
    next.reset();
    a.reset();
    EXPECT_EQ(pool.size(), 3u);  // population grew to the most held at once
}

TEST(ObjectPoolTest, ObjectOutlivesPool) {
    std::shared_ptr<EventVector> held;
    {
        auto pool = KvObjectPoolFactory::createUniqueKvObjectPool<EventVector>(1);
        held = pool->acquire();
        held->resize(10);
    }
    held.reset();  // must destroy the object without touching the dead pool
}

TEST(ObjectPoolTest, CopiesShareOneCore) {
    KvObjectPoolWrapper<EventVector> pool(3);
    KvObjectPoolWrapper<EventVector> copy(pool);
    auto a = copy.acquire();
    EXPECT_EQ(pool.size(), 2u);
    KvObjectPoolWrapper<EventVector> assigned(0);
    assigned = pool;
    EXPECT_EQ(assigned.size(), 2u);
    a.reset();
    EXPECT_EQ(pool.size(), 3u);
}

TEST(ObjectPoolTest, FactoryWithArgsMakesSizedVectors) {
    auto pool = KvObjectPoolFactory::createUniqueKvObjectPoolWithArgs<EventVector>(2, 1000);
    auto a = pool->acquire();
    EXPECT_EQ(a->size(), 1000u);
    EXPECT_EQ((*a)[999], Event2D());
    auto b = pool->acquire();
    auto c = pool->acquire();  // made on demand with the default constructor
    EXPECT_TRUE(c->empty());
    auto empty = KvObjectPoolFactory::createUniqueKvObjectPool<EventVector>(0);
    EXPECT_TRUE(empty->empty());
    EXPECT_TRUE(empty->acquire()->empty());
}

TEST(ObjectPoolTest, BoundedCore) {
    EXPECT_THROW(
        {
            try {
                PoolCore<EventVector>::create(0, true);
            } catch (const std::invalid_argument& e) {
                EXPECT_STREQ(e.what(),
                             "Failed to allocate memory for the bounded object pool: pool's size "
                             "can not be 0.");
                throw;
            }
        },
        std::invalid_argument);

    KvObjectPoolWrapper<EventVector> pool(PoolCore<EventVector>::create(1, true));
    auto first = pool.acquire();
    EventVector* raw = first.get();
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        auto second = pool.acquire();  // blocks until the first comes back
        EXPECT_EQ(second.get(), raw);
        got = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(got.load());
    first.reset();
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(pool.size(), 1u);
}
