#include "QtBluetoothPlatform.h"

#include "HelperProtocol.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothLocalDevice>
#include <QLowEnergyController>
#include <QLowEnergyDescriptor>
#include <QLowEnergyService>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace corvane::helper {

namespace {

QBluetoothUuid toUuid(const std::string &text)
{
    return QBluetoothUuid(QString::fromStdString(text));
}

Step failed(const QString &text)
{
    return Step::failure(text.toStdString());
}

} // namespace

QtBluetoothPlatform::QtBluetoothPlatform()
    : m_thread(new QThread)
    , m_home(new QObject)
{
    m_home->moveToThread(m_thread);
    // Objects of the platform thread go with it, after its event loop has stopped.
    QObject::connect(m_thread, &QThread::finished, m_home, &QObject::deleteLater);
    m_thread->start();
}

QtBluetoothPlatform::~QtBluetoothPlatform()
{
    QMetaObject::invokeMethod(m_home, [this] {
        releaseOnPlatform();
        delete m_agent;
        m_agent = nullptr;
    }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

QtBluetoothPlatform::Outcome QtBluetoothPlatform::run(int ms, const std::function<void(QObject *, const Finish &)> &begin)
{
    struct Shared {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        Outcome outcome;
    };
    auto shared = std::make_shared<Shared>();
    QMetaObject::invokeMethod(m_home, [this, shared, begin] {
        auto *context = new QObject(m_home);
        const Finish finish = [shared, context = QPointer<QObject>(context)](const Outcome &outcome) {
            if (context)
                context->deleteLater();
            std::lock_guard<std::mutex> guard(shared->lock);
            if (shared->finished)
                return;
            shared->finished = true;
            shared->outcome = outcome;
            shared->done.notify_all();
        };
        begin(context, finish);
    }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(shared->lock);
    if (!shared->done.wait_for(lock, std::chrono::milliseconds(ms), [&shared] { return shared->finished; })) {
        // A late answer finds the step finished and is dropped.
        shared->finished = true;
        return Outcome{Step::failure(timedOutText())};
    }
    return shared->outcome;
}

Step QtBluetoothPlatform::adapter(Adapter *state)
{
    const Outcome outcome = run(kAdapterMs, [](QObject *, const Finish &finish) {
        QBluetoothLocalDevice local;
        Outcome out;
        if (QBluetoothLocalDevice::allDevices().isEmpty() || !local.isValid())
            out.value = int(Adapter::Missing);
        else if (local.hostMode() == QBluetoothLocalDevice::HostPoweredOff)
            out.value = int(Adapter::RadioOff);
        else
            out.value = int(Adapter::Ready);
        finish(out);
    });
    *state = Adapter(outcome.value);
    return outcome.step;
}

Step QtBluetoothPlatform::startScan(AdvertisementHandler handler)
{
    return run(kScanStepMs, [this, handler](QObject *, const Finish &finish) {
        delete m_agent;
        m_agent = new QBluetoothDeviceDiscoveryAgent(m_home);
        m_agent->setLowEnergyDiscoveryTimeout(0); // until stopped
        const auto report = [handler](const QBluetoothDeviceInfo &info) {
            Advertisement ad;
            ad.address = info.address().toUInt64();
            ad.rssi = info.rssi();
            ad.localName = info.name().toStdString();
            for (const QBluetoothUuid &uuid : info.serviceUuids())
                ad.serviceUuids.push_back(uuid.toString(QUuid::WithoutBraces).toStdString());
            handler(ad);
        };
        QObject::connect(m_agent, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, m_agent, report);
        QObject::connect(m_agent, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, m_agent,
                         [report](const QBluetoothDeviceInfo &info, QBluetoothDeviceInfo::Fields) { report(info); });
        m_agent->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
        if (m_agent->error() != QBluetoothDeviceDiscoveryAgent::NoError)
            return finish(Outcome{failed(m_agent->errorString())});
        finish(Outcome{});
    }).step;
}

Step QtBluetoothPlatform::stopScan()
{
    return run(kScanStepMs, [this](QObject *, const Finish &finish) {
        if (m_agent) {
            m_agent->disconnect();
            m_agent->stop();
            m_agent->deleteLater();
            m_agent = nullptr;
        }
        finish(Outcome{});
    }).step;
}

Step QtBluetoothPlatform::openDevice(std::uint64_t address, bool *found)
{
    const Outcome outcome = run(kConnectStepMs, [this, address](QObject *context, const Finish &finish) {
        releaseOnPlatform();
        QBluetoothDeviceInfo info(QBluetoothAddress(quint64(address)), QString(), 0);
        info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
        m_controller = QLowEnergyController::createCentral(info, m_home);
        QObject::connect(m_controller, &QLowEnergyController::connected, context, [finish] { finish(Outcome{{}, {}, 1}); });
        QObject::connect(m_controller, &QLowEnergyController::disconnected, context, [finish] { finish(Outcome{{}, {}, 0}); });
        QObject::connect(m_controller, &QLowEnergyController::errorOccurred, context,
                         [this, finish](QLowEnergyController::Error error) {
                             const bool away = error == QLowEnergyController::UnknownRemoteDeviceError
                                 || error == QLowEnergyController::ConnectionError;
                             finish(away ? Outcome{{}, {}, 0} : Outcome{failed(m_controller->errorString())});
                         });
        m_controller->connectToDevice();
    });
    *found = outcome.value == 1;
    return outcome.step;
}

Step QtBluetoothPlatform::findService(const std::string &uuid, GattStatus *status, int *count)
{
    const Outcome outcome = run(kConnectStepMs, [this, uuid](QObject *context, const Finish &finish) {
        if (!m_controller)
            return finish(Outcome{Step::failure("No device is open.")});
        const auto pick = [this, uuid, finish] {
            if (!m_controller->services().contains(toUuid(uuid)))
                return finish(Outcome{{}, GattStatus::Success, 0});
            delete m_service;
            m_service = m_controller->createServiceObject(toUuid(uuid), m_home);
            finish(Outcome{{}, GattStatus::Success, m_service ? 1 : 0});
        };
        QObject::connect(m_controller, &QLowEnergyController::discoveryFinished, context, pick);
        QObject::connect(m_controller, &QLowEnergyController::errorOccurred, context,
                         [this, finish] { finish(Outcome{failed(m_controller->errorString())}); });
        QObject::connect(m_controller, &QLowEnergyController::disconnected, context,
                         [finish] { finish(Outcome{{}, GattStatus::Unreachable, 0}); });
        m_controller->discoverServices();
    });
    *status = outcome.status;
    *count = outcome.value;
    return outcome.step;
}

Step QtBluetoothPlatform::findCharacteristic(const std::string &uuid, GattStatus *status, int *count)
{
    const Outcome outcome = run(kConnectStepMs, [this, uuid](QObject *context, const Finish &finish) {
        if (!m_service)
            return finish(Outcome{Step::failure("No service is open.")});
        const auto pick = [this, uuid, finish] {
            const QLowEnergyCharacteristic found = m_service->characteristic(toUuid(uuid));
            if (found.isValid())
                (toUuid(uuid) == toUuid(std::string(kWriteUuid)) ? m_write : m_notify) = found;
            finish(Outcome{{}, GattStatus::Success, found.isValid() ? 1 : 0});
        };
        if (m_service->state() == QLowEnergyService::RemoteServiceDiscovered)
            return pick();
        QObject::connect(m_service, &QLowEnergyService::stateChanged, context, [pick](QLowEnergyService::ServiceState state) {
            if (state == QLowEnergyService::RemoteServiceDiscovered)
                pick();
        });
        QObject::connect(m_service, &QLowEnergyService::errorOccurred, context,
                         [finish] { finish(Outcome{Step::failure("The device's characteristics could not be read.")}); });
        m_service->discoverDetails();
    });
    *status = outcome.status;
    *count = outcome.value;
    return outcome.step;
}

void QtBluetoothPlatform::watch(ValueHandler onValue, LinkLostHandler onLinkLost)
{
    run(kConnectStepMs, [this, onValue, onLinkLost](QObject *, const Finish &finish) {
        if (m_service) {
            m_watches << QObject::connect(m_service, &QLowEnergyService::characteristicChanged, m_home,
                                          [this, onValue](const QLowEnergyCharacteristic &c, const QByteArray &value) {
                                              if (c.uuid() == m_notify.uuid())
                                                  onValue(value.toStdString());
                                          });
        }
        if (m_controller)
            m_watches << QObject::connect(m_controller, &QLowEnergyController::disconnected, m_home, [onLinkLost] { onLinkLost(); });
        finish(Outcome{});
    });
}

Step QtBluetoothPlatform::subscribe(GattStatus *status)
{
    const Outcome outcome = run(kConnectStepMs, [this](QObject *context, const Finish &finish) {
        const QLowEnergyDescriptor config = m_notify.descriptor(QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration);
        if (!m_service || !config.isValid())
            return finish(Outcome{{}, GattStatus::ProtocolError});
        QObject::connect(m_service, &QLowEnergyService::descriptorWritten, context,
                         [finish] { finish(Outcome{{}, GattStatus::Success}); });
        QObject::connect(m_service, &QLowEnergyService::errorOccurred, context,
                         [finish] { finish(Outcome{{}, GattStatus::ProtocolError}); });
        m_service->writeDescriptor(config, QLowEnergyCharacteristic::CCCDEnableNotification);
    });
    *status = outcome.status;
    return outcome.step;
}

Step QtBluetoothPlatform::maxPduSize(int *size)
{
    const Outcome outcome = run(kConnectStepMs, [this](QObject *, const Finish &finish) {
        const int mtu = m_controller ? m_controller->mtu() : -1;
        finish(mtu > 0 ? Outcome{{}, {}, mtu} : Outcome{Step::failure("The link's PDU size is unknown.")});
    });
    *size = outcome.value;
    return outcome.step;
}

Step QtBluetoothPlatform::write(const std::string &bytes, GattStatus *status)
{
    const Outcome outcome = run(kWriteMs, [this, bytes](QObject *context, const Finish &finish) {
        if (!m_service || !m_controller || m_controller->state() == QLowEnergyController::UnconnectedState)
            return finish(Outcome{{}, GattStatus::Unreachable});
        QObject::connect(m_service, &QLowEnergyService::characteristicWritten, context,
                         [finish] { finish(Outcome{{}, GattStatus::Success}); });
        QObject::connect(m_service, &QLowEnergyService::errorOccurred, context,
                         [finish] { finish(Outcome{{}, GattStatus::ProtocolError}); });
        m_service->writeCharacteristic(m_write, QByteArray::fromStdString(bytes), QLowEnergyService::WriteWithResponse);
    });
    *status = outcome.status;
    return outcome.step;
}

void QtBluetoothPlatform::release()
{
    run(kReleaseMs, [this](QObject *, const Finish &finish) {
        releaseOnPlatform();
        finish(Outcome{});
    });
}

void QtBluetoothPlatform::releaseOnPlatform()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_watches))
        QObject::disconnect(connection);
    m_watches.clear();
    m_write = {};
    m_notify = {};
    delete m_service;
    m_service = nullptr;
    if (m_controller) {
        m_controller->disconnect();
        m_controller->disconnectFromDevice();
        m_controller->deleteLater();
        m_controller = nullptr;
    }
}

} // namespace corvane::helper
