// Calls handed between threads: every call runs, on the target's thread, in the order each
// poster posted them, with no wake-up lost. Built and run under ThreadSanitizer too.
#include "base/CallQueue.h"

#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

class Target : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void runQueued() { queue.run(); }

    CallQueue queue{this, "runQueued"};
    // Touched only on the target's thread.
    std::vector<std::pair<int, int>> seen;
    int offThread = 0;
};

} // namespace

class TestCallQueue : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manyPostersOneTarget()
    {
        QThread thread;
        auto *target = new Target;
        target->moveToThread(&thread);
        thread.start();

        const int posters = 4;
        const int calls = 2000;
        std::vector<std::thread> threads;
        for (int p = 0; p < posters; ++p) {
            threads.emplace_back([target, &thread, p] {
                for (int i = 0; i < calls; ++i) {
                    target->queue.post([target, &thread, p, i] {
                        target->offThread += QThread::currentThread() != &thread;
                        target->seen.emplace_back(p, i);
                    });
                }
            });
        }
        for (std::thread &t : threads)
            t.join();

        std::atomic<bool> drained{false};
        std::vector<std::pair<int, int>> seen;
        int offThread = -1;
        target->queue.post([&] {
            seen = target->seen;
            offThread = target->offThread;
            drained = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(drained.load(), 20000);

        QCOMPARE(offThread, 0);
        QCOMPARE(int(seen.size()), posters * calls);
        std::vector<int> next(posters, 0);
        for (const auto &[poster, index] : seen)
            QCOMPARE(index, next[poster]++);

        target->queue.post([target, &thread] {
            delete target;
            thread.quit();
        });
        QVERIFY(thread.wait(10000));
    }
};

QTEST_GUILESS_MAIN(TestCallQueue)
#include "tst_CallQueue.moc"
