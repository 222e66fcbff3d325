// TlsFeed against the simulated device's secure live feed: the token comes from the device
// itself (ensureApiToken through a signed-in USB session), live lines follow the game, and
// the device's refusals and dropped connections reach the feed and the source manager.
#include "cloud/PortalClient.h"
#include "device/lan/TlsFeed.h"
#include "live/LiveData.h"
#include "live/SourceManager.h"
#include "support/SessionFixture.h"

#include <QSignalSpy>

using namespace corvane;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

struct FeedDevice : SessionFixture {
    FeedDevice()
        : SessionFixture({QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--feed-port"), QStringLiteral("0")})
    {
        const QString line = sim.waitFor(QStringLiteral("FEED "));
        port = quint16(line.mid(5).toUInt());
        session.start();
        if (!waitState(State::Ready))
            return;
        bool done = false;
        session.ensureApiToken([this, &done](bool ok, const QString &value, const QString &) {
            if (ok)
                token = value;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 10000))
            return;
    }
    quint16 port = 0;
    QString token;
};

const TlsFeed::Timing kQuickRetry{100, 400};

} // namespace

class TestTlsFeedDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void refusedBeforeTheDeviceHandsOutAToken()
    {
        SessionFixture f({QStringLiteral("--feed-port"), QStringLiteral("0")});
        const quint16 port = quint16(f.sim.waitFor(QStringLiteral("FEED ")).mid(5).toUInt());
        QVERIFY(port != 0);
        TlsFeed feed;
        feed.setPort(port);
        QSignalSpy connected(&feed, &TlsFeed::connectedChanged);
        feed.start(QStringLiteral("127.0.0.1"), QStringLiteral("guessed"));
        QVERIFY(connected.wait(10000));
        QCOMPARE(connected.first().at(0).toBool(), false);
        QCOMPARE(feed.detail(), QStringLiteral("The device rejected the connection. Re-run device setup to refresh its access."));
        QVERIFY(!feed.isActive());
    }

    void tokenFromSetupBringsLiveLines()
    {
        FeedDevice f;
        QVERIFY(f.port != 0);
        QCOMPARE(f.token.size(), 40);
        TlsFeed feed;
        feed.setPort(f.port);
        QSignalSpy connected(&feed, &TlsFeed::connectedChanged);
        QSignalSpy envelopes(&feed, &TlsFeed::envelope);
        feed.start(QStringLiteral("127.0.0.1"), f.token);
        QVERIFY(connected.wait(10000));
        QCOMPARE(connected.first(), (QList<QVariant>{true, QString()}));
        QVERIFY(f.sim.command(QStringLiteral("live")));
        QVERIFY(f.sim.command(QStringLiteral("live")));
        QVERIFY(QTest::qWaitFor([&] { return envelopes.size() >= 2; }, 10000));
        for (const auto &arguments : std::as_const(envelopes)) {
            const QString type = arguments.at(0).toJsonObject().value(key("type")).toString();
            QVERIFY2(type == QLatin1String("state") || type == QLatin1String("heartbeat"), qPrintable(type));
        }
        // A token other than the device's current one is refused for good.
        TlsFeed stale;
        stale.setPort(f.port);
        QSignalSpy refused(&stale, &TlsFeed::connectedChanged);
        stale.start(QStringLiteral("127.0.0.1"), f.token.left(39) + QLatin1Char('x'));
        QVERIFY(refused.wait(10000));
        QVERIFY(!stale.isActive());
    }

    void refusalAfterAuthAndDroppedConnectionsReconnect()
    {
        FeedDevice f;
        QVERIFY(!f.token.isEmpty());
        // Declared before the feed: its destructor still reports the last disconnection.
        QList<QPair<bool, QString>> events;
        TlsFeed feed;
        feed.setTimingForTests(kQuickRetry);
        feed.setPort(f.port);
        connect(&feed, &TlsFeed::connectedChanged, this, [&](bool up, const QString &detail) { events.append({up, detail}); });
        feed.start(QStringLiteral("127.0.0.1"), f.token);
        QVERIFY(QTest::qWaitFor([&] { return events.size() == 1; }, 10000));

        QVERIFY(f.sim.command(QStringLiteral("feed-fail")));
        QVERIFY(QTest::qWaitFor([&] { return events.size() == 2; }, 10000));
        QCOMPARE(events.at(1), qMakePair(false, QStringLiteral("The device rejected the connection.")));
        QVERIFY(feed.isActive());
        // The token is still the device's, so the retry is accepted again.
        QVERIFY(QTest::qWaitFor([&] { return events.size() == 3; }, 10000));
        QCOMPARE(events.at(2), qMakePair(true, QString()));

        QVERIFY(f.sim.command(QStringLiteral("feed-drop")));
        QVERIFY(QTest::qWaitFor([&] { return events.size() == 5; }, 10000));
        QCOMPARE(events.at(3).first, false);
        QCOMPARE(events.at(4), qMakePair(true, QString()));
    }

    void sourceManagerShowsTheDeviceLiveOverTheNetwork()
    {
        FeedDevice f;
        QVERIFY(!f.token.isEmpty());
        PortalClient portal;
        portal.setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
        LiveData live;
        SourceManager manager(&portal, &live);
        manager.setFeedPortForTests(f.port);
        manager.useLan(QStringLiteral("CV-1001"), {QStringLiteral("127.0.0.1"), f.token, QStringLiteral("Gym board")});
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == QLatin1String("Connected to Gym board, waiting for scoreboard data"); }, 10000));
        QVERIFY(!manager.isLive());
        // Now and then the device sends a keep-alive instead of the scores.
        for (int i = 0; i < 5 && live.fieldNames().isEmpty(); ++i) {
            QVERIFY(f.sim.command(QStringLiteral("live")));
            if (QTest::qWaitFor([&] { return !live.fieldNames().isEmpty(); }, 2000))
                break;
        }
        QVERIFY(!live.fieldNames().isEmpty());
        QVERIFY(manager.isLive());
        QCOMPARE(manager.message(), QStringLiteral("Live from Gym board over your network"));

        QVERIFY(f.sim.command(QStringLiteral("feed-drop")));
        QVERIFY(QTest::qWaitFor([&] { return !manager.isLive(); }, 10000));
        // The feed says why the line went; the status shows its sentence.
        QVERIFY(!manager.feed()->detail().isEmpty());
        QCOMPARE(manager.message(), manager.feed()->detail());
        // The feed's own one-second retry brings it back.
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == QLatin1String("Connected to Gym board, waiting for scoreboard data"); }, 10000));
    }

    // A route stored without a pin pins the first certificate; once the device has a new
    // one (a reset), the route is refused, also when used again with its stored pin, until
    // it is given the fingerprint the device reports.
    void aNewCertificateIsRefusedUntilTrusted()
    {
        FeedDevice f;
        QVERIFY(!f.token.isEmpty());
        const QString first = TlsFeed::normalizedFingerprint(f.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10));
        QVERIFY(!first.isEmpty());
        PortalClient portal;
        portal.setBaseUrl(QStringLiteral("http://127.0.0.1:9"));
        LiveData live;
        SourceManager manager(&portal, &live);
        manager.setFeedPortForTests(f.port);
        QSignalSpy pinned(&manager, &SourceManager::lanCertificatePinned);
        const QString connected = QStringLiteral("Connected to Gym board, waiting for scoreboard data");
        const auto route = [&f](const QString &pin) { return LanRoute{QStringLiteral("127.0.0.1"), f.token, QStringLiteral("Gym board"), pin}; };
        manager.useLan(QStringLiteral("CV-1001"), route(QString()));
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == connected; }, 10000));
        QCOMPARE(pinned.size(), 1);
        QCOMPARE(pinned.first(), (QList<QVariant>{QStringLiteral("CV-1001"), first}));

        QVERIFY(f.sim.command(QStringLiteral("feed-newcert")));
        const QString renewed = TlsFeed::normalizedFingerprint(f.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10));
        QVERIFY(!renewed.isEmpty() && renewed != first);
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == TlsFeed::certificateChangedText(); }, 10000));
        QVERIFY(!manager.feed()->isActive());

        manager.useLan(QStringLiteral("CV-1001"), route(first));
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == TlsFeed::certificateChangedText(); }, 10000));
        manager.useLan(QStringLiteral("CV-1001"), route(renewed));
        QVERIFY(QTest::qWaitFor([&] { return manager.message() == connected; }, 10000));
        QCOMPARE(pinned.size(), 1);
    }
};

QTEST_MAIN(TestTlsFeedDevice)
#include "tst_TlsFeedDevice.moc"
