#include "device/usb/SerialPort.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace corvane;

namespace {

// The far end of a pseudo-terminal plays the device; closing it is an unplug.
struct Pty {
    Pty()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            qFatal("openpty failed");
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~Pty() { unplug(); }
    void unplug()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    // Writes everything, letting the event loop drain the other side meanwhile.
    void send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(10000);
        while (done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else
                QTest::qWait(5);
        }
        QCOMPARE(done, bytes.size());
    }
    QByteArray receive(qsizetype count, bool pumpEvents = true)
    {
        QByteArray out;
        QDeadlineTimer deadline(5000);
        char buffer[4096];
        while (out.size() < count && !deadline.hasExpired()) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                out.append(buffer, n);
            else if (pumpEvents)
                QTest::qWait(5);
            else
                QThread::msleep(2);
        }
        return out;
    }
    int master = -1;
    QString path;
};

// Both ways of learning of arriving bytes, whichever this platform uses.
void addReadModes()
{
    QTest::addColumn<SerialPort::ReadMode>("mode");
    QTest::newRow("notified") << SerialPort::ReadMode::Notified;
    QTest::newRow("polled") << SerialPort::ReadMode::Polled;
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // OBS runs on glib's event dispatcher, Qt's default where it was built with glib; the
    // same program runs again under Qt's own (QT_NO_GLIB set, a test of its own).
    void runsUnderTheDispatcherAsked()
    {
        const QByteArray dispatcher = QAbstractEventDispatcher::instance()->metaObject()->className();
#if QT_CONFIG(glib)
        QCOMPARE(dispatcher == "QEventDispatcherGlib", qEnvironmentVariableIsEmpty("QT_NO_GLIB"));
#else
        QVERIFY(dispatcher != "QEventDispatcherGlib");
#endif
    }

    void burstArrivesWholeAndInOrder_data()
    {
        QTest::addColumn<SerialPort::ReadMode>("mode");
        QTest::addColumn<qsizetype>("size");
        constexpr qsizetype bound = qsizetype(SerialPort::MaxReadsPerPoll) * SerialPort::ReadChunk;
        for (const auto &[name, mode] : {std::pair{"notified", SerialPort::ReadMode::Notified},
                                         std::pair{"polled", SerialPort::ReadMode::Polled}}) {
            QTest::addRow("%s, one step's bound", name) << mode << bound;
            QTest::addRow("%s, three steps and more", name) << mode << 3 * bound + 123;
        }
    }

    void burstArrivesWholeAndInOrder()
    {
        QFETCH(SerialPort::ReadMode, mode);
        QFETCH(qsizetype, size);
        Pty pty;
        SerialPort port(mode);
        QCOMPARE(port.readMode(), mode);
        QString error;
        QVERIFY2(port.open(pty.path, &error), qPrintable(error));
        QVERIFY(port.isOpen());

        QByteArray received;
        qsizetype largest = 0;
        connect(&port, &SerialPort::readyRead, this, [&](const QByteArray &data) {
            QVERIFY(!data.isEmpty());
            largest = qMax(largest, data.size());
            received += data;
        });
        const QByteArray sent = pattern(size);
        pty.send(sent);
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), sent.size(), 10000);
        QCOMPARE(received, sent);
        QVERIFY(largest <= SerialPort::ReadChunk);
    }

    void bytesArrivingDuringWriteComeAfterIt_data() { addReadModes(); }

    void bytesArrivingDuringWriteComeAfterIt()
    {
        QFETCH(SerialPort::ReadMode, mode);
        Pty pty;
        SerialPort port(mode);
        QVERIFY(port.open(pty.path, nullptr));
        bool writing = false;
        bool readDuringWrite = false;
        QByteArray received;
        connect(&port, &SerialPort::readyRead, this, [&](const QByteArray &data) {
            readDuringWrite = readDuringWrite || writing;
            received += data;
        });
        // The device sends its whole answer before it takes the request, so the write waits
        // while Qt reads the answer: more than several steps may deliver once it is done.
        const QByteArray answer = pattern(200000);
        const QByteArray request = pattern(50000);
        QByteArray echoed;
        std::thread device([&] {
            qsizetype sent = 0;
            while (sent < answer.size()) {
                const ssize_t n = ::write(pty.master, answer.constData() + sent, size_t(answer.size() - sent));
                if (n > 0)
                    sent += n;
                else
                    QThread::msleep(1);
            }
            echoed = pty.receive(request.size(), false);
        });
        writing = true;
        const bool written = port.write(request);
        writing = false;
        device.join();
        QVERIFY(written);
        QCOMPARE(echoed, request);
        QVERIFY(!readDuringWrite);
        QTRY_COMPARE(received.size(), answer.size());
        QCOMPARE(received, answer);
    }

    void writeToStalledDeviceFails()
    {
        Pty pty;
        SerialPort port;
        QVERIFY(port.open(pty.path, nullptr));
        // Nobody reads the far end: the line buffer fills and a write gives up in time.
        bool written = true;
        for (int i = 0; i < 64 && written; ++i)
            written = port.write(pattern(4096));
        QVERIFY(!written);
        QVERIFY(port.isOpen());
    }

    void emptyAndClosedWrites()
    {
        SerialPort port;
        QVERIFY(!port.write(QByteArrayLiteral("x")));
        Pty pty;
        QVERIFY(port.open(pty.path, nullptr));
        QVERIFY(port.write(QByteArray()));
        port.close();
        QVERIFY(!port.isOpen());
        QVERIFY(!port.write(QByteArrayLiteral("x")));
    }

    void secondOpenIsRefusedAsBusy()
    {
        Pty pty;
        SerialPort first;
        QVERIFY(first.open(pty.path, nullptr));
        SerialPort second;
        QString error;
        QVERIFY(!second.open(pty.path, &error));
        QVERIFY(!second.isOpen());
        QCOMPARE(error, QStringLiteral("That USB port is in use by another program (close any serial monitor)."));

        // Once released, the port can be taken again; reopening replaces the old handle.
        first.close();
        QVERIFY(second.open(pty.path, &error));
        QVERIFY(second.open(pty.path, &error));
        QVERIFY(second.write(QByteArrayLiteral("ok")));
        QCOMPARE(pty.receive(2), QByteArrayLiteral("ok"));
    }

    // Busy and forbidden both reach Qt as a permission error; only the forbidden one may
    // tell the user to fix access rights.
    void portWithoutAccessSaysSoAndWhatToDo()
    {
        Pty pty;
        QVERIFY(::chmod(qPrintable(pty.path), 0) == 0);
        // As root the mode bits do not bind; a stranger's effective identity makes them.
        const uid_t uid = ::geteuid();
        if (uid == 0)
            QVERIFY(::seteuid(65534) == 0);
        SerialPort port;
        QString error;
        const bool opened = port.open(pty.path, &error);
        if (uid == 0)
            QVERIFY(::seteuid(0) == 0);
        QVERIFY(!opened);
        QVERIFY2(error.startsWith(QStringLiteral("You do not have permission to open that USB port.")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("\"dialout\"")), qPrintable(error));
    }

    void missingPortGivesOtherFailureText()
    {
        SerialPort port;
        QString error;
        QVERIFY(!port.open(QStringLiteral("/dev/corvane-no-such-port"), &error));
        QVERIFY2(error.startsWith(QStringLiteral("Could not open the USB port (error ")), qPrintable(error));
        QVERIFY(error.endsWith(QStringLiteral(").")));
    }

    void unplugGivesExactlyOneError_data()
    {
        QTest::addColumn<SerialPort::ReadMode>("mode");
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<bool>("watch");
        for (const auto &[name, mode] : {std::pair{"notified", SerialPort::ReadMode::Notified},
                                         std::pair{"polled", SerialPort::ReadMode::Polled}}) {
            QTest::addRow("%s, after a short message", name) << mode << qsizetype(10) << true;
            QTest::addRow("%s, in the middle of a burst", name) << mode << qsizetype(200000) << true;
        }
        // A hang-up that wakes no watch and reads as end of file, no error: the slow check.
        QTest::addRow("notified, hang-up heard by nothing") << SerialPort::ReadMode::Notified << qsizetype(10) << false;
    }

    void unplugGivesExactlyOneError()
    {
        QFETCH(SerialPort::ReadMode, mode);
        QFETCH(qsizetype, size);
        QFETCH(bool, watch);
        Pty pty;
        SerialPort port(mode);
        port.setHangUpWatchForTesting(watch);
        QVERIFY(port.open(pty.path, nullptr));
        QSignalSpy errors(&port, &SerialPort::errorOccurred);
        QByteArray received;
        bool readAfterError = false;
        connect(&port, &SerialPort::readyRead, this, [&](const QByteArray &data) {
            readAfterError = readAfterError || !errors.isEmpty();
            received += data;
        });
        // The device sends what fits in the line, or all of a short message, and is gone.
        const QByteArray sent = pattern(size);
        qsizetype queued = 0;
        while (queued < sent.size()) {
            const ssize_t n = ::write(pty.master, sent.constData() + queued, size_t(sent.size() - queued));
            if (n <= 0)
                break;
            queued += n;
        }
        if (size <= 10)
            QTRY_COMPARE(received.size(), size);
        else
            QTRY_VERIFY(!received.isEmpty());
        pty.unplug();
        QTRY_COMPARE(errors.count(), 1);
        QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("The USB device was unplugged or stopped responding."));
        QVERIFY(!port.isOpen());
        QTest::qWait(200);
        QCOMPARE(errors.count(), 1);
        QVERIFY(!readAfterError);
        // Whatever arrived before the unplug is the start of what was sent, in order.
        QVERIFY(received.size() <= queued);
        QCOMPARE(received, sent.left(received.size()));
        QVERIFY(!port.write(QByteArrayLiteral("x")));
    }

    void closeIsSilent_data() { addReadModes(); }

    void closeIsSilent()
    {
        QFETCH(SerialPort::ReadMode, mode);
        Pty pty;
        SerialPort port(mode);
        QVERIFY(port.open(pty.path, nullptr));
        QSignalSpy errors(&port, &SerialPort::errorOccurred);
        QSignalSpy reads(&port, &SerialPort::readyRead);
        pty.send(QByteArrayLiteral("unread"));
        port.close();
        pty.unplug();
        QTest::qWait(100);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(reads.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_SerialPort.moc"
