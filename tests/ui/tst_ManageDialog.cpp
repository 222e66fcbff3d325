// Cloud-side management of one device against the portal simulator.
#include "cloud/PortalClient.h"
#include "support/PortalSimProcess.h"
#include "support/WidgetLookup.h"
#include "ui/ManageDialog.h"
#include "ui/Prompter.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace corvane;
using corvane::test::byText;
using corvane::test::PortalSimProcess;

namespace {

QString statusText(QWidget *root)
{
    const QList<QLabel *> labels = root->findChildren<QLabel *>();
    // The status line is the label right after the answer view.
    for (QLabel *label : labels)
        if (label->wordWrap() && !label->text().startsWith(QLatin1String("These actions")))
            return label->text();
    return {};
}

} // namespace

class TestManageDialog : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    PortalClient m_portal;
    QStringList m_confirmations;
    bool m_confirm = true;

    // The body of the newest request to `target`; empty when there was none.
    QJsonObject lastBodyTo(const QString &target)
    {
        const QJsonArray all = m_sim.requests();
        for (qsizetype i = all.size() - 1; i >= 0; --i) {
            const QJsonObject request = all.at(i).toObject();
            if (request.value(QStringLiteral("target")).toString() == target)
                return QJsonDocument::fromJson(request.value(QStringLiteral("body")).toString().toUtf8()).object();
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_sim.start().isEmpty());
        m_portal.setBaseUrl(m_sim.url());
        bool done = false;
        m_portal.signIn(QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"),
                        [&](const PortalResult &) { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done && m_portal.isSignedIn(), 10000);
        Prompter::setHandlersForTesting(
            [this](QWidget *, const Prompter::Question &question) {
                m_confirmations << question.title + QLatin1Char('|') + question.text;
                return m_confirm;
            },
            nullptr);
    }
    void cleanupTestCase() { Prompter::setHandlersForTesting(nullptr, nullptr); }

    void statusDisablesEveryActionUntilTheAnswer()
    {
        ManageDialog dialog(&m_portal, QStringLiteral("CV-1001"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Manage CV-1001"));
        const QStringList actions{QStringLiteral("Check device status"), QStringLiteral("Check for update"),
                                  QStringLiteral("Restart device"), QStringLiteral("Change scoreboard")};
        byText<QPushButton>(&dialog, actions.first())->click();
        QCOMPARE(statusText(&dialog), QStringLiteral("Asking the device…"));
        for (const QString &action : actions)
            QVERIFY2(!byText<QPushButton>(&dialog, action)->isEnabled(), qPrintable(action));
        QTRY_COMPARE_WITH_TIMEOUT(statusText(&dialog), QStringLiteral("Status received."), 10000);
        for (const QString &action : actions)
            QVERIFY(byText<QPushButton>(&dialog, action)->isEnabled());
        QCOMPARE(dialog.findChild<QPlainTextEdit *>()->toPlainText(),
                 QStringLiteral("device_id: CV-1001\nfirmware_version: 2.3.1\nuptime_s: 5400\nwifi_sta_ip: 192.0.2.40"));
        QCOMPARE(lastBodyTo(QStringLiteral("/devices/CV-1001/cmd/get_status")),
                 (QJsonObject{{QStringLiteral("args"), QJsonObject{}}}));
    }

    void restartOfAnOfflineDeviceIsQueued()
    {
        ManageDialog dialog(&m_portal, QStringLiteral("CV-1002")); // offline on the account
        m_confirmations.clear();
        m_confirm = false;
        byText<QPushButton>(&dialog, QStringLiteral("Restart device"))->click();
        QCOMPARE(m_confirmations,
                 QStringList(QStringLiteral("Restart device|Restart CV-1002 now? Live scores pause for about a minute.")));
        QVERIFY(m_sim.requests().last().toObject().value(QStringLiteral("target")).toString() != QLatin1String("/devices/CV-1002/cmd/reboot"));

        m_confirm = true;
        byText<QPushButton>(&dialog, QStringLiteral("Restart device"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(statusText(&dialog), QStringLiteral("The device is offline; it will restart when it reconnects."), 10000);
    }

    void failureShowsThePortalsMessageInRed()
    {
        ManageDialog dialog(&m_portal, QStringLiteral("CV-1004")); // its gateway does not answer
        byText<QPushButton>(&dialog, QStringLiteral("Check for update"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(byText<QPushButton>(&dialog, QStringLiteral("Check for update"))->isEnabled(), 10000);
        QLabel *status = nullptr;
        for (QLabel *label : dialog.findChildren<QLabel *>())
            if (label->styleSheet() == QLatin1String("color: #d9534f;"))
                status = label;
        QVERIFY(status && !status->text().isEmpty());
    }

    void scoreboardBoxesFollowTheCatalogAndAreSent()
    {
        ManageDialog dialog(&m_portal, QStringLiteral("CV-1001"));
        const QList<QComboBox *> boxes = dialog.findChildren<QComboBox *>();
        QCOMPARE(boxes.size(), 4);
        QComboBox *maker = boxes.at(0);
        maker->setCurrentIndex(maker->findData(QStringLiteral("electromech")));
        QCOMPARE(boxes.at(2)->count(), 1);
        QCOMPARE(boxes.at(2)->currentData().toString(), QStringLiteral("football"));
        maker->setCurrentIndex(maker->findData(QStringLiteral("daktronics")));
        QCOMPARE(boxes.at(2)->count(), 8);

        byText<QPushButton>(&dialog, QStringLiteral("Change scoreboard"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(statusText(&dialog), QStringLiteral("The device accepted the new scoreboard."), 10000);
        const QJsonObject config = lastBodyTo(QStringLiteral("/devices/CV-1001/config")).value(QStringLiteral("config")).toObject();
        QCOMPARE(config.value(QStringLiteral("manufacturer")).toString(), QStringLiteral("daktronics"));
        QCOMPARE(config.value(QStringLiteral("model")).toString(), QStringLiteral("5000"));
        QCOMPARE(config.value(QStringLiteral("sport")).toString(), boxes.at(2)->currentData().toString());
        QCOMPARE(config.value(QStringLiteral("input_type")).toString(), QStringLiteral("cl"));
    }
};

QTEST_MAIN(TestManageDialog)
#include "tst_ManageDialog.moc"
