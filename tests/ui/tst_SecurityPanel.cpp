// The Security tab against corvane-devsim: the password checks before anything is sent, the
// password change, the access token flow and an answer that comes after the panel closed.

#include "ui/PanelFixture.h"

#include "ui/SecurityPanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

using namespace corvane;

class TestSecurityPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passwordChecksComeInOrder_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QString>("message");
        const QString fill = QStringLiteral("Fill in the current and new password.");
        const QString mismatch = QStringLiteral("The two new passwords do not match.");
        const QString weak = QStringLiteral("Use at least 8 characters, and not the factory password.");
        QTest::newRow("no current password") << "" << "longenough" << "other" << fill;
        QTest::newRow("no new password") << "mapleguard" << "" << "" << fill;
        QTest::newRow("mismatch before length") << "mapleguard" << "short" << "shorter" << mismatch;
        QTest::newRow("too short") << "mapleguard" << "seven77" << "seven77" << weak;
        QTest::newRow("factory password in capitals") << "mapleguard" << "MapleGuard" << "MapleGuard" << weak;
    }
    void passwordChecksComeInOrder()
    {
        QFETCH(QString, current);
        QFETCH(QString, next);
        QFETCH(QString, repeat);
        QFETCH(QString, message);
        PanelDevice f;
        QVERIFY(f.ready);
        SecurityPanel panel(&f.session);
        QSignalSpy changed(&panel, &SecurityPanel::passwordChanged);
        panel.currentPasswordField()->setText(current);
        panel.newPasswordField()->setText(next);
        panel.repeatPasswordField()->setText(repeat);
        panel.changePasswordButton()->click();
        QCOMPARE(panel.messageLabel()->text(), message);
        QVERIFY(isRed(panel.messageLabel()));
        QCOMPARE(f.session.rpc()->pendingCount(), 0);
        QVERIFY(changed.isEmpty());
    }

    void passwordChangeClearsTheFieldsAndTellsTheWizard()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SecurityPanel panel(&f.session);
        QSignalSpy changed(&panel, &SecurityPanel::passwordChanged);
        panel.currentPasswordField()->setText(QStringLiteral("mapleguard"));
        panel.newPasswordField()->setText(QStringLiteral("gym-east-2027"));
        panel.repeatPasswordField()->setText(QStringLiteral("gym-east-2027"));
        panel.changePasswordButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("Password changed."), 15000);
        QVERIFY(!isRed(panel.messageLabel()));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().first().toString(), QStringLiteral("gym-east-2027"));
        QVERIFY(panel.currentPasswordField()->text().isEmpty() && panel.newPasswordField()->text().isEmpty()
                && panel.repeatPasswordField()->text().isEmpty());
        QCOMPARE(f.onlyParams(QStringLiteral("changePassword")),
                 QStringLiteral(R"({"confirm_password":"gym-east-2027","current_password":"mapleguard","new_password":"gym-east-2027"})"));
        // The panel asked the device itself: the session keeps what it signed in with.
        QCOMPARE(f.session.password(), QStringLiteral("mapleguard"));
    }

    void aRefusedChangeShowsTheDevicesMessage()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SecurityPanel panel(&f.session);
        panel.currentPasswordField()->setText(QStringLiteral("not-the-one"));
        panel.newPasswordField()->setText(QStringLiteral("gym-east-2027"));
        panel.repeatPasswordField()->setText(QStringLiteral("gym-east-2027"));
        panel.changePasswordButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.messageLabel()->text(), QStringLiteral("The current password is wrong."), 15000);
        QVERIFY(isRed(panel.messageLabel()));
        QVERIFY(panel.changePasswordButton()->isEnabled());
        QCOMPARE(panel.newPasswordField()->text(), QStringLiteral("gym-east-2027"));
    }

    void newTokenAfterConfirmationIsShownOnceAndEmitted()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        SecurityPanel panel(&f.session);
        QSignalSpy tokens(&panel, &SecurityPanel::apiToken);
        panel.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.fingerprintField()->text().isEmpty(), 15000);
        QCOMPARE(panel.fingerprintField()->text(), f.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10));
        QVERIFY(panel.tokenField()->placeholderText().isEmpty());

        prompts.confirmAnswer = false;
        panel.newTokenButton()->click();
        QCOMPARE(prompts.questions(), QStringList{QStringLiteral("New access token | Make a new access token? Anything using the old one "
                                                                 "will stop working until you update it.")});
        QCOMPARE(f.session.rpc()->pendingCount(), 0);

        prompts.confirmAnswer = true;
        panel.newTokenButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(tokens.size(), 1, 15000);
        const QString token = tokens.first().first().toString();
        QCOMPARE(token.size(), 40);
        QCOMPARE(panel.tokenField()->text(), token);
        QCOMPARE(panel.tokenNote()->text(), QString::fromUtf8("Copy the token now – it is not shown again."));
        QCOMPARE(f.onlyParams(QStringLiteral("ensureApiToken")), QStringLiteral(R"({"force_new":true})"));

        // Shown once: asked again, the device only says that a token is set.
        panel.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(panel.tokenField()->text().isEmpty(), 15000);
        QCOMPARE(panel.tokenField()->placeholderText(), QString::fromUtf8("Set – make a new token to see one"));
    }

    void passkeyIsShown()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        SecurityPanel panel(&f.session);
        panel.passkeyButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(panel.passkeyField()->text().size(), 6, 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("blePasskey")), QStringLiteral("{}"));
    }

    void anAnswerAfterThePanelClosedDoesNothing()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        int tokensSeen = 0;
        auto *panel = new SecurityPanel(&f.session);
        connect(panel, &SecurityPanel::apiToken, &f.session, [&tokensSeen] { ++tokensSeen; });
        panel->newTokenButton()->click();
        panel->passkeyButton()->click();
        QCOMPARE(f.session.rpc()->pendingCount(), 2);
        delete panel;
        QVERIFY(f.settle());
        QVERIFY(!f.sim.waitFor(QStringLiteral("PARAMS blePasskey")).isEmpty());
        QCOMPARE(tokensSeen, 0);
    }
};

QTEST_MAIN(TestSecurityPanel)
#include "tst_SecurityPanel.moc"
