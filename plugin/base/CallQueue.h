#pragma once

#include <QObject>

#include <functional>
#include <mutex>
#include <vector>

namespace corvane {

// Calls handed from any thread to an object living on another, run there in the order
// they were posted. A batch costs one queued Qt call, however many calls it holds. The
// calls travel under a standard mutex, which ThreadSanitizer sees, rather than inside Qt's
// own events, whose locks it cannot see.
class CallQueue {
public:
    // `target` names the object whose thread runs the calls; its invokable method `method`
    // (taking no arguments) must call run().
    CallQueue(QObject *target, const char *method);
    ~CallQueue();
    CallQueue(const CallQueue &) = delete;
    CallQueue &operator=(const CallQueue &) = delete;

    // Any thread.
    void post(std::function<void()> call);
    // The target's thread: runs every call posted so far. Touches no member after the
    // calls start, so a call may end the target's life.
    void run();

private:
    QObject *m_target;
    const char *m_method;
    std::mutex m_lock;
    std::vector<std::function<void()>> m_calls;
};

} // namespace corvane
