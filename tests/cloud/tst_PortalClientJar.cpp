#include "cloud/PortalClientJar.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

#include <sys/stat.h>

using namespace corvane;

namespace {

const QDateTime kNow = QDateTime(QDate(2026, 12, 7), QTime(12, 0), QTimeZone::utc());

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList names(const QList<QNetworkCookie> &cookies)
{
    QStringList out;
    for (const auto &c : cookies)
        out << QString::fromUtf8(c.name());
    return out;
}

QNetworkCookie cookie(const char *name, const QDateTime &expiry = {})
{
    QNetworkCookie c(name, QByteArray(name) + "-value");
    c.setDomain(QStringLiteral("portal.example"));
    c.setPath(QStringLiteral("/"));
    c.setSecure(true);
    c.setHttpOnly(true);
    if (expiry.isValid())
        c.setExpirationDate(expiry);
    return c;
}

} // namespace

class TestPortalClientJar : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void saveKeepsSessionAndUnexpiredCookies()
    {
        const QString path = m_dir.filePath(QStringLiteral("a/session.json"));
        PortalClientJar jar;
        jar.setPath(path);
        for (const QNetworkCookie &c : {cookie("session"), cookie("old", kNow.addSecs(-1)),
                                        cookie("fresh", kNow.addDays(30)), cookie("edge", kNow)})
            jar.insertCookie(c);
        jar.save(kNow);

        const QByteArray bytes = readAll(path);
        QVERIFY2(!bytes.contains('\n'), "the cookie list is compact JSON");
        const QJsonArray entries = QJsonDocument::fromJson(bytes).array();
        QCOMPARE(entries.size(), 2);
        QVERIFY(entries.at(0).toString().startsWith(QStringLiteral("session=session-value")));
        QVERIFY(entries.at(1).toString().contains(QStringLiteral("expires=")));

        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));

        PortalClientJar restored;
        restored.setPath(path);
        restored.load();
        QCOMPARE(names(restored.allCookies()), QStringList({QStringLiteral("session"), QStringLiteral("fresh")}));
        const QNetworkCookie s = restored.allCookies().first();
        QCOMPARE(s.domain(), QStringLiteral("portal.example"));
        QVERIFY(s.isSecure() && s.isHttpOnly() && s.isSessionCookie());
    }

    void loadKeepsExpiredUntilNextSave()
    {
        const QString path = m_dir.filePath(QStringLiteral("expired.json"));
        writeFile(path, R"(["gone=1; expires=Thu, 01-Jan-2015 00:00:00 GMT; domain=portal.example; path=/",
                            "keep=2; domain=portal.example; path=/"])");
        PortalClientJar jar;
        jar.setPath(path);
        jar.load();
        QCOMPARE(names(jar.allCookies()), QStringList({QStringLiteral("gone"), QStringLiteral("keep")}));
        jar.save(kNow);
        jar.load();
        QCOMPARE(names(jar.allCookies()), QStringList({QStringLiteral("keep")}));
    }

    void oneEntryMayHoldSeveralCookies()
    {
        const QString path = m_dir.filePath(QStringLiteral("multi.json"));
        writeFile(path, R"(["a=1; path=/\nb=2; path=/", 5, null])");
        PortalClientJar jar;
        jar.setPath(path);
        jar.load();
        QCOMPARE(names(jar.allCookies()), QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    }

    void malformedFilesLoadNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("object") << QByteArray(R"({"a": "b=1"})");
        QTest::newRow("garbage") << QByteArray("[\"a=1\"");
        QTest::newRow("empty") << QByteArray();
    }
    void malformedFilesLoadNothing()
    {
        QFETCH(QByteArray, content);
        const QString path = m_dir.filePath(QStringLiteral("bad.json"));
        writeFile(path, content);
        PortalClientJar jar;
        jar.setPath(path);
        jar.insertCookie(cookie("before"));
        jar.load();
        QVERIFY(jar.allCookies().isEmpty());
    }

    void missingFileLeavesJarAlone()
    {
        PortalClientJar jar;
        jar.setPath(m_dir.filePath(QStringLiteral("none.json")));
        jar.insertCookie(cookie("before"));
        jar.load();
        QCOMPARE(names(jar.allCookies()), QStringList({QStringLiteral("before")}));
    }

    void clearEmptiesJarAndDeletesFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("clear.json"));
        PortalClientJar jar;
        jar.setPath(path);
        jar.insertCookie(cookie("session"));
        jar.save(kNow);
        QVERIFY(QFile::exists(path));
        jar.clear();
        QVERIFY(jar.allCookies().isEmpty());
        QVERIFY(!QFile::exists(path));
    }

    void emptyPathTouchesNoFile()
    {
        PortalClientJar jar;
        jar.insertCookie(cookie("session"));
        jar.save(kNow);
        jar.load();
        jar.clear();
        QVERIFY(jar.allCookies().isEmpty());
        QVERIFY(QDir(m_dir.path()).entryList(QDir::Files).filter(QStringLiteral("session")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPortalClientJar)
#include "tst_PortalClientJar.moc"
