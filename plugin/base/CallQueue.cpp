#include "base/CallQueue.h"

namespace corvane {

CallQueue::CallQueue(QObject *target, const char *method)
    : m_target(target)
    , m_method(method)
{
}

CallQueue::~CallQueue()
{
    // Taken once more so that the last run on the other thread happens before we go.
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.clear();
}

void CallQueue::post(std::function<void()> call)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        wake = m_calls.empty();
        m_calls.push_back(std::move(call));
    }
    // A batch already waiting has its wake-up on the way.
    if (wake)
        QMetaObject::invokeMethod(m_target, m_method, Qt::QueuedConnection);
}

void CallQueue::run()
{
    std::vector<std::function<void()>> calls;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        calls.swap(m_calls);
    }
    for (const std::function<void()> &call : calls)
        call();
}

} // namespace corvane
