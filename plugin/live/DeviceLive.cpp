#include "live/DeviceLive.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace corvane {

namespace {

// QObjects are deleted on their own thread: a reader on another thread that lets go last
// hands the deletion to the event loop of the objects' thread.
void release(DeviceLive *data)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == data->live().thread()) {
        delete data;
        return;
    }
    QMetaObject::invokeMethod(app, [data] { delete data; }, Qt::QueuedConnection);
}

} // namespace

std::shared_ptr<DeviceLive> DeviceLive::create() { return std::shared_ptr<DeviceLive>(new DeviceLive, release); }

} // namespace corvane
