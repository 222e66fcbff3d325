#include "device/rpc/RpcClient.h"
#include "device/rpc/RpcTransport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTest>

#include <functional>

using namespace corvane;

namespace {

QJsonObject json(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object();
}

// Records what the client sends; the test plays the device by calling reply().
class FakeTransport : public RpcTransport {
    Q_OBJECT
public:
    bool isConnected() const override { return connected; }
    void send(const QByteArray &text) override
    {
        raw << text;
        sent << json(text);
        if (onSend)
            onSend(sent.last());
    }

    qint64 lastId() const { return sent.isEmpty() ? -1 : sent.last().value(QStringLiteral("id")).toInteger(); }
    QString lastMethod() const { return sent.isEmpty() ? QString() : sent.last().value(QStringLiteral("method")).toString(); }
    void reply(const QByteArray &text) { Q_EMIT message(text); }
    void replyOk(qint64 id, const QByteArray &resultJson = "{}")
    {
        reply("{\"id\":" + QByteArray::number(id) + ",\"ok\":true,\"result\":" + resultJson + "}");
    }
    void replyError(qint64 id, const QByteArray &code, const QByteArray &text = "device says no")
    {
        reply("{\"id\":" + QByteArray::number(id) + ",\"ok\":false,\"error\":{\"code\":\"" + code + "\",\"message\":\"" + text + "\"}}");
    }
    void fail(const QString &code, const QString &text) { Q_EMIT sendFailed(code, text); }

    bool connected = true;
    QList<QByteArray> raw;
    QList<QJsonObject> sent;
    std::function<void(const QJsonObject &)> onSend;
};

// Collects every callback invocation, so a second call for the same request shows.
struct Results {
    RpcCallback make(const QString &tag)
    {
        return [this, tag](const RpcResult &r) { log.append({tag, r}); };
    }
    QStringList tags() const
    {
        QStringList out;
        for (const auto &entry : log)
            out << entry.first;
        return out;
    }
    QList<QPair<QString, RpcResult>> log;
};

} // namespace

class TestRpcClient : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneCallAtATimeInOrder()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("getStatus"), {}, results.make(QStringLiteral("a")));
        client.call(QStringLiteral("setWifi"), json(R"({"ssid":"x"})"), results.make(QStringLiteral("b")));
        QCOMPARE(transport.raw, QList<QByteArray>{R"({"id":1,"method":"getStatus","params":{}})"});
        QCOMPARE(client.pendingCount(), 2);

        transport.replyOk(1, R"({"uptime":5})");
        QCOMPARE(results.tags(), QStringList{QStringLiteral("a")});
        QVERIFY(results.log[0].second.ok);
        QCOMPARE(results.log[0].second.result, json(R"({"uptime":5})"));
        QVERIFY(results.log[0].second.code.isEmpty());
        QCOMPARE(transport.raw.size(), 2);
        QCOMPARE(transport.raw[1], QByteArray(R"({"id":2,"method":"setWifi","params":{"ssid":"x"}})"));
        QCOMPARE(client.pendingCount(), 1);

        transport.replyOk(2);
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(client.pendingCount(), 0);
    }

    // What goes to the device byte for byte: the envelope's keys and each method's
    // parameters in the documented order, no white space.
    void envelopeBytes_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *method, const char *params, const char *ordered) {
            QTest::newRow(method) << QString::fromLatin1(method) << json(params)
                                  << QByteArray("{\"id\":1,\"method\":\"") + method + "\",\"params\":" + ordered + "}";
        };
        row("getStatus", "{}", "{}");
        row("login", R"({"password":"a b"})", R"({"password":"a b"})");
        row("changePassword", R"({"new_password":"n","confirm_password":"n","current_password":"c"})",
            R"({"current_password":"c","new_password":"n","confirm_password":"n"})");
        row("ensureApiToken", R"({"force_new":true})", R"({"force_new":true})");
        row("configureWifi", R"({"pass":"p","ssid":"Gym"})", R"({"ssid":"Gym","pass":"p"})");
        row("setEspNow", R"({"peer_mac":"aa:bb","key":"k","role":"tx"})", R"({"role":"tx","peer_mac":"aa:bb","key":"k"})");
        QTest::newRow("setEspNow new key") << QStringLiteral("setEspNow") << json(R"({"generate_key":true,"peer_mac":"aa:bb","role":"tx"})")
                                           << QByteArray(R"({"id":1,"method":"setEspNow","params":{"role":"tx","peer_mac":"aa:bb","generate_key":true}})");
        row("setControllerConfig", R"({"input_type":"rs232","manufacturer":"daktronics","model":"5000","sport":"football"})",
            R"({"manufacturer":"daktronics","model":"5000","sport":"football","input_type":"rs232"})");
        row("c6OtaApply", R"({"force":false,"source":"partition"})", R"({"source":"partition","force":false})");
        row("factoryReset", R"({"confirm":true})", R"({"confirm":true})");
        row("setDeviceId", R"({"device_id":"CV-1"})", R"({"device_id":"CV-1"})");
        row("setSettings",
            R"({"usb_tunnel_port":18883,"usb_tunnel_enabled":false,"ethernet_bridge_port":1011,"ethernet_bridge_peer_host":"",
                "ethernet_bridge_output_enabled":false,"wireless_output_channel":1,"wireless_output_network_id":1,
                "wireless_output_enabled":false,"input_type":"wireless","sport":"hockey","model":"Gen2","manufacturer":"varsity",
                "mqtt_config_enabled":true,"test_cloud_data_enabled":false,"tcp_feed_enabled":true,"http_endpoint_enabled":true,
                "xbee_pan_id":65535,"xbee_channel":12})",
            R"({"http_endpoint_enabled":true,"tcp_feed_enabled":true,"test_cloud_data_enabled":false,"mqtt_config_enabled":true,)"
            R"("manufacturer":"varsity","model":"Gen2","sport":"hockey","input_type":"wireless","wireless_output_enabled":false,)"
            R"("wireless_output_network_id":1,"wireless_output_channel":1,"ethernet_bridge_output_enabled":false,)"
            R"("ethernet_bridge_peer_host":"","ethernet_bridge_port":1011,"usb_tunnel_enabled":false,"usb_tunnel_port":18883,)"
            R"("xbee_channel":12,"xbee_pan_id":65535})");
        // Keys the table does not name follow the named ones, in ascending order.
        QTest::newRow("unnamed keys") << QStringLiteral("setSettings")
                                      << json(R"({"zeta":1,"alpha":2,"wireless_channel":3,"wireless_group":4,"wireless_auto_scan":true})")
                                      << QByteArray(R"({"id":1,"method":"setSettings","params":{"wireless_auto_scan":true,"wireless_group":4,"wireless_channel":3,"alpha":2,"zeta":1}})");
    }
    void envelopeBytes()
    {
        QFETCH(QString, method);
        QFETCH(QJsonObject, params);
        QFETCH(QByteArray, bytes);
        FakeTransport transport;
        RpcClient client(&transport);
        client.call(method, params);
        QCOMPARE(transport.raw, QList<QByteArray>{bytes});
    }

    void resultShapes_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QJsonObject>("expected");
        QTest::newRow("object") << QByteArray(R"({"id":1,"ok":true,"result":{"a":1}})") << json(R"({"a":1})");
        QTest::newRow("number") << QByteArray(R"({"id":1,"ok":true,"result":42})") << json(R"({"value":42})");
        QTest::newRow("string") << QByteArray(R"({"id":1,"ok":true,"result":"s"})") << json(R"({"value":"s"})");
        QTest::newRow("array") << QByteArray(R"({"id":1,"ok":true,"result":[1,2]})") << json(R"({"value":[1,2]})");
        QTest::newRow("bool") << QByteArray(R"({"id":1,"ok":true,"result":false})") << json(R"({"value":false})");
        QTest::newRow("missing") << QByteArray(R"({"id":1,"ok":true})") << QJsonObject();
    }
    void resultShapes()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QJsonObject, expected);
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("m"), {}, results.make(QStringLiteral("a")));
        transport.reply(reply);
        QCOMPARE(results.log.size(), 1);
        QVERIFY(results.log[0].second.ok);
        QCOMPARE(results.log[0].second.result, expected);
    }

    void deviceErrors_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("ok false") << QByteArray(R"({"id":1,"ok":false})") << QStringLiteral("device_error")
                                  << QStringLiteral("The device rejected 'reboot'");
        QTest::newRow("ok missing") << QByteArray(R"({"id":1,"result":{}})") << QStringLiteral("device_error")
                                    << QStringLiteral("The device rejected 'reboot'");
        QTest::newRow("ok not bool") << QByteArray(R"({"id":1,"ok":1})") << QStringLiteral("device_error")
                                     << QStringLiteral("The device rejected 'reboot'");
        QTest::newRow("details") << QByteArray(R"({"id":1,"ok":false,"error":{"code":"bad_password","message":"Wrong password"}})")
                                 << QStringLiteral("bad_password") << QStringLiteral("Wrong password");
        QTest::newRow("code only") << QByteArray(R"({"id":1,"ok":false,"error":{"code":"locked"}})")
                                   << QStringLiteral("locked") << QStringLiteral("The device rejected 'reboot'");
        QTest::newRow("message only") << QByteArray(R"({"id":1,"ok":false,"error":{"message":"No."}})")
                                      << QStringLiteral("device_error") << QStringLiteral("No.");
    }
    void deviceErrors()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, code);
        QFETCH(QString, message);
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("reboot"), {}, results.make(QStringLiteral("a")));
        transport.reply(reply);
        QCOMPARE(results.log.size(), 1);
        const RpcResult &r = results.log[0].second;
        QVERIFY(!r.ok);
        QVERIFY(r.result.isEmpty());
        QCOMPARE(r.code, code);
        QCOMPARE(r.message, message);
    }

    // Replies that do not belong to the call in flight change nothing: it ends by its deadline.
    void strayRepliesIgnored()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        transport.replyOk(1); // nothing in flight
        client.call(QStringLiteral("getStatus"), {}, results.make(QStringLiteral("a")), 50);
        transport.reply("not json");
        transport.reply("[1,2,3]");
        transport.reply(R"({"ok":true})");          // no id
        transport.reply(R"({"id":"1","ok":true})"); // id of the wrong type
        transport.reply(R"({"id":2,"ok":true})");
        transport.reply(R"({"id":1.5,"ok":true})");
        QVERIFY(results.log.isEmpty());
        QTRY_COMPARE(results.log.size(), 1);
        QCOMPARE(results.log[0].second.code, QStringLiteral("timeout"));
        QCOMPARE(results.log[0].second.message, QStringLiteral("The device did not answer 'getStatus' in time"));
    }

    // A nonsensical deadline ends the call at once instead of never.
    void negativeDeadlineStillEnds()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("m"), {}, results.make(QStringLiteral("a")), -5);
        QTRY_COMPARE(results.log.size(), 1);
        QCOMPARE(results.log[0].second.code, QStringLiteral("timeout"));
    }

    void lateReplyAfterDeadlineIgnored()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("slow"), {}, results.make(QStringLiteral("a")), 20);
        client.call(QStringLiteral("next"), {}, results.make(QStringLiteral("b")));
        QTRY_COMPARE(transport.sent.size(), 2);
        QCOMPARE(results.log.size(), 1);
        QCOMPARE(results.log[0].second.code, QStringLiteral("timeout"));
        // The first call's answer arrives while the second is in flight.
        transport.replyOk(1, R"({"late":true})");
        QCOMPARE(results.log.size(), 1);
        QCOMPARE(client.pendingCount(), 1);
        transport.replyOk(2, R"({"next":true})");
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(results.log[1].second.result, json(R"({"next":true})"));
        // And once more when nothing is in flight.
        transport.replyOk(1);
        QCOMPARE(results.log.size(), 2);
    }

    void busyRetriesWithNewIds()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setBusyRetryDelayForTests(5);
        Results results;
        client.call(QStringLiteral("scanWifi"), json(R"({"band":2})"), results.make(QStringLiteral("a")));
        for (int attempt = 0; attempt < 3; ++attempt) {
            QCOMPARE(transport.sent.size(), attempt + 1);
            transport.replyError(transport.lastId(), "busy");
            // The retry waits for its spacing instead of going out at once.
            QCOMPARE(transport.sent.size(), attempt + 1);
            QCOMPARE(client.pendingCount(), 1);
            QTRY_COMPARE(transport.sent.size(), attempt + 2);
        }
        transport.replyOk(transport.lastId(), R"({"networks":[]})");
        QCOMPARE(results.log.size(), 1);
        QVERIFY(results.log[0].second.ok);
        QList<qint64> ids;
        for (const QJsonObject &request : std::as_const(transport.sent)) {
            ids << request.value(QStringLiteral("id")).toInteger();
            QCOMPARE(request.value(QStringLiteral("method")).toString(), QStringLiteral("scanWifi"));
            QCOMPARE(request.value(QStringLiteral("params")).toObject(), json(R"({"band":2})"));
        }
        QCOMPARE(ids, (QList<qint64>{1, 2, 3, 4}));
    }

    void fourthBusyIsDelivered()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setBusyRetryDelayForTests(1);
        Results results;
        client.call(QStringLiteral("apply"), {}, results.make(QStringLiteral("a")));
        for (int attempt = 0; attempt < 4; ++attempt) {
            QTRY_COMPARE(transport.sent.size(), attempt + 1);
            transport.replyError(transport.lastId(), "busy", "Try again later");
        }
        QCOMPARE(results.log.size(), 1);
        QCOMPARE(results.log[0].second.code, QStringLiteral("busy"));
        QCOMPARE(results.log[0].second.message, QStringLiteral("Try again later"));
        QTest::qWait(20);
        QCOMPARE(transport.sent.size(), 4);
    }

    // A call made while a "busy" retry waits queues behind the retried call.
    void callDuringBusyWaitQueuesBehindRetry()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setBusyRetryDelayForTests(10);
        Results results;
        client.call(QStringLiteral("first"), {}, results.make(QStringLiteral("a")));
        transport.replyError(1, "busy");
        client.call(QStringLiteral("second"), {}, results.make(QStringLiteral("b")));
        QCOMPARE(transport.sent.size(), 1);
        QCOMPARE(client.pendingCount(), 2);
        QTRY_COMPARE(transport.sent.size(), 2);
        QCOMPARE(transport.lastMethod(), QStringLiteral("first"));
        transport.replyOk(2);
        QCOMPARE(transport.lastMethod(), QStringLiteral("second"));
        transport.replyOk(3);
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    }

    void idWrapsToOne()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setNextIdForTests(2147483646);
        for (int i = 0; i < 3; ++i) {
            client.call(QStringLiteral("ping"));
            transport.replyOk(transport.lastId());
        }
        QList<qint64> ids;
        for (const QJsonObject &request : std::as_const(transport.sent))
            ids << request.value(QStringLiteral("id")).toInteger();
        QCOMPARE(ids, (QList<qint64>{2147483646, 2147483647, 1}));
    }

    void disconnectedFailsInsideCall()
    {
        FakeTransport transport;
        transport.connected = false;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")));
        QCOMPARE(results.log.size(), 1); // before call returned
        QCOMPARE(results.log[0].second.code, QStringLiteral("disconnected"));
        QCOMPARE(results.log[0].second.message, QStringLiteral("Not connected to a device"));
        QVERIFY(transport.sent.isEmpty());
        QCOMPARE(client.pendingCount(), 0);
    }

    // The link drops while a call is in flight: the queued calls fail in order once it ends.
    void queuedCallsFailWhenTransportGoes()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")));
        client.call(QStringLiteral("b"), {}, results.make(QStringLiteral("b")));
        client.call(QStringLiteral("c"), {}, results.make(QStringLiteral("c")));
        transport.connected = false;
        transport.replyOk(1);
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        QVERIFY(results.log[0].second.ok);
        QCOMPARE(results.log[1].second.code, QStringLiteral("disconnected"));
        QCOMPARE(results.log[2].second.code, QStringLiteral("disconnected"));
        QCOMPARE(transport.sent.size(), 1);
    }

    void transportFailureEndsCall()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        // Reported from inside send, as the USB transport does for an oversized request.
        transport.onSend = [&transport](const QJsonObject &request) {
            if (request.value(QStringLiteral("method")).toString() == QStringLiteral("big"))
                transport.fail(QStringLiteral("request_too_large"), QStringLiteral("That request is too large for the device"));
        };
        client.call(QStringLiteral("big"), {}, results.make(QStringLiteral("big")), 30);
        client.call(QStringLiteral("small"), {}, results.make(QStringLiteral("small")), 30);
        QCOMPARE(results.tags(), QStringList{QStringLiteral("big")});
        QCOMPARE(results.log[0].second.code, QStringLiteral("request_too_large"));
        QCOMPARE(results.log[0].second.message, QStringLiteral("That request is too large for the device"));
        QCOMPARE(transport.lastMethod(), QStringLiteral("small"));
        // Reported later, asynchronously.
        transport.fail(QStringLiteral("write_failed"), QStringLiteral("Could not write to the USB device"));
        QCOMPARE(results.log.size(), 2);
        QCOMPARE(results.log[1].second.code, QStringLiteral("write_failed"));
        // Nothing in flight: ignored, and the deadline of the finished call never fires.
        transport.fail(QStringLiteral("write_failed"), QStringLiteral("x"));
        QTest::qWait(60);
        QCOMPARE(results.log.size(), 2);
    }

    void failAllInFlightFirst()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")), 40);
        client.call(QStringLiteral("b"), {}, results.make(QStringLiteral("b")));
        client.call(QStringLiteral("c"), {}, results.make(QStringLiteral("c")));
        client.failAll(QStringLiteral("link_lost"), QStringLiteral("The USB device was unplugged."));
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
        for (const auto &entry : std::as_const(results.log)) {
            QVERIFY(!entry.second.ok);
            QCOMPARE(entry.second.code, QStringLiteral("link_lost"));
            QCOMPARE(entry.second.message, QStringLiteral("The USB device was unplugged."));
        }
        QCOMPARE(client.pendingCount(), 0);
        QCOMPARE(transport.sent.size(), 1);
        // Neither a late reply nor the old deadline reaches a callback again.
        transport.replyOk(1);
        QTest::qWait(80);
        QCOMPARE(results.log.size(), 3);
    }

    // A call made from a failAll callback goes into the new queue and runs.
    void callFromFailAllCallback()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        Results results;
        client.call(QStringLiteral("a"), {}, [&](const RpcResult &) {
            client.call(QStringLiteral("again"), {}, results.make(QStringLiteral("again")));
        });
        client.call(QStringLiteral("b"), {}, results.make(QStringLiteral("b")));
        client.failAll(QStringLiteral("gone"), QStringLiteral("Gone."));
        QCOMPARE(results.tags(), QStringList{QStringLiteral("b")});
        QCOMPARE(transport.lastMethod(), QStringLiteral("again"));
        transport.replyOk(transport.lastId());
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("b"), QStringLiteral("again")}));
    }

    // Closing the link during the wait still fails new calls inside call, the retried one first.
    void disconnectDuringBusyWait()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setBusyRetryDelayForTests(10000);
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")));
        transport.replyError(1, "busy");
        transport.connected = false;
        client.call(QStringLiteral("b"), {}, results.make(QStringLiteral("b")));
        QCOMPARE(results.tags(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(results.log[0].second.code, QStringLiteral("disconnected"));
        QCOMPARE(client.pendingCount(), 0);
    }

    // A retried call waiting for its spacing is a queued call: failAll ends it, and the
    // retry never goes out.
    void failAllDuringBusyWait()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        client.setBusyRetryDelayForTests(10);
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")));
        transport.replyError(1, "busy");
        client.failAll(QStringLiteral("gone"), QStringLiteral("Gone."));
        QCOMPARE(results.tags(), QStringList{QStringLiteral("a")});
        QTest::qWait(40);
        QCOMPARE(transport.sent.size(), 1);
        QCOMPARE(results.log.size(), 1);
    }

    // A callback queues behind calls already waiting, and runs before the next one is sent.
    void callbackCallsQueueBehind()
    {
        FakeTransport transport;
        RpcClient client(&transport);
        QStringList order;
        client.call(QStringLiteral("a"), {}, [&](const RpcResult &) {
            order << QStringLiteral("a done, sent %1").arg(transport.sent.size());
            client.call(QStringLiteral("c"), {}, [&](const RpcResult &) { order << QStringLiteral("c done"); });
        });
        client.call(QStringLiteral("b"), {}, [&](const RpcResult &) { order << QStringLiteral("b done"); });
        transport.replyOk(1);
        QCOMPARE(transport.lastMethod(), QStringLiteral("b"));
        transport.replyOk(2);
        QCOMPARE(transport.lastMethod(), QStringLiteral("c"));
        transport.replyOk(3);
        QCOMPARE(order, (QStringList{QStringLiteral("a done, sent 1"), QStringLiteral("b done"), QStringLiteral("c done")}));
    }

    // The owner may destroy the client from a callback: nothing touches it afterwards, and
    // calls still queued are dropped without their callbacks.
    void destroyedFromCallback()
    {
        FakeTransport transport;
        auto *client = new RpcClient(&transport);
        QPointer<RpcClient> watch(client);
        Results results;
        client->call(QStringLiteral("a"), {}, [&](const RpcResult &) { delete client; });
        client->call(QStringLiteral("b"), {}, results.make(QStringLiteral("b")));
        transport.replyOk(1);
        QVERIFY(watch.isNull());
        QCOMPARE(transport.sent.size(), 1);
        QVERIFY(results.log.isEmpty());

        // Also while failing queued calls for a closed transport.
        transport.connected = false;
        client = new RpcClient(&transport);
        client->call(QStringLiteral("x"), {}, [&](const RpcResult &) { delete client; });
        QVERIFY(results.log.isEmpty());
    }

    void transportDestroyedCountsAsDisconnected()
    {
        auto *transport = new FakeTransport;
        RpcClient client(transport);
        delete transport;
        Results results;
        client.call(QStringLiteral("a"), {}, results.make(QStringLiteral("a")));
        QCOMPARE(results.log.size(), 1);
        QCOMPARE(results.log[0].second.code, QStringLiteral("disconnected"));
    }
};

QTEST_GUILESS_MAIN(TestRpcClient)
#include "tst_RpcClient.moc"
