// The Advanced tab against corvane-devsim: the factory reset goes on only for the exact word
// typed (the device's log, read afterwards, shows that nothing else went first), the password
// reset and the restart only when confirmed.

#include "ui/PanelFixture.h"

#include "ui/AdvancedPanel.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace corvane;
using State = DeviceSession::State;

class TestAdvancedPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void factoryResetOnlyForTheExactWord_data()
    {
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("resets");
        QTest::newRow("RESET") << false << "RESET" << true;
        QTest::newRow("lower case") << false << "reset" << false;
        QTest::newRow("mixed case") << false << "Reset" << false;
        QTest::newRow("trailing space") << false << "RESET " << false;
        QTest::newRow("nothing typed") << false << "" << false;
        QTest::newRow("cancelled") << true << "" << false;
    }
    void factoryResetOnlyForTheExactWord()
    {
        QFETCH(bool, cancelled);
        QFETCH(QString, typed);
        QFETCH(bool, resets);
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        if (!cancelled)
            prompts.typedAnswer = typed;
        AdvancedPanel panel(&f.session);
        panel.factoryResetButton()->click();
        QCOMPARE(prompts.questions(),
                 QStringList{QStringLiteral("Factory reset | This erases every setting on the device, including Wi-Fi and its cloud "
                                            "sign-in.\n\nType RESET to continue.")});
        if (resets) {
            QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("The device is resetting."), 15000);
            QCOMPARE(f.onlyParams(QStringLiteral("factoryReset")), QStringLiteral(R"({"confirm":true})"));
            return;
        }
        // Requests go out in order: once the log has come, a reset would have gone before it.
        panel.logButton()->click();
        QCOMPARE(panel.logView()->toPlainText(), QString::fromUtf8("Reading the log…"));
        QVERIFY(!panel.logButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(panel.logView()->toPlainText().contains(QStringLiteral("login: ok")), 15000);
        QCOMPARE(f.requestsOf(QStringLiteral("factoryReset")), 0);
        QVERIFY(panel.messageLabel()->text().isEmpty());
        QVERIFY(panel.logButton()->isEnabled());
    }

    void passwordResetAfterTheWarning()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        AdvancedPanel panel(&f.session);
        panel.resetPasswordButton()->click();
        QCOMPARE(prompts.questions(), QStringList{QStringLiteral("Reset admin password | Set the admin password back to the factory "
                                                                 "password? You will be asked to choose a new one next time.")});
        QCOMPARE(prompts.asked.first().tone, Prompter::Tone::Warning);
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Password reset."), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("resetLocalPassword")), QStringLiteral(R"({"confirm":true})"));
        // The device dropped the sign-in with the reset: the next request says so, in red.
        panel.logButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Sign in first."), 15000);
        QVERIFY(isRed(panel.messageLabel()));
        QVERIFY(panel.logButton()->isEnabled());
    }

    void restartIsExpectedBySession()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        AdvancedPanel panel(&f.session);
        prompts.confirmAnswer = false;
        panel.restartButton()->click();
        QCOMPARE(f.session.rpc()->pendingCount(), 0);
        prompts.confirmAnswer = true;
        panel.restartButton()->click();
        QCOMPARE(prompts.questions().last(),
                 QStringLiteral("Restart device | Restart the device now? Live scores pause for about a minute."));
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QString::fromUtf8("Restarting…"), 15000);
        QVERIFY(f.waitState(State::Restarting));
        QCOMPARE(f.onlyParams(QStringLiteral("reboot")), QStringLiteral("{}"));
    }
};

QTEST_MAIN(TestAdvancedPanel)
#include "tst_AdvancedPanel.moc"
