#pragma once
// Runs tools/updatesim as a child process on a free 127.0.0.1 port, serving a package built
// from the freshly built plugin. Header-only: each test executable that needs it includes it.

#include <QProcess>
#include <QStringList>

namespace corvane::test {

class UpdateSimProcess {
public:
    ~UpdateSimProcess() { stop(); }

    // Starts the simulator with the plugin and `arguments`; its URL, or empty on failure.
    QString start(const QStringList &arguments = {})
    {
        m_process.setProgram(QStringLiteral(CORVANE_UPDATE_SIM));
        m_process.setArguments(QStringList{QStringLiteral("--plugin"), QStringLiteral(CORVANE_MODULE_PATH),
                                           QStringLiteral("--locale"),
                                           QStringLiteral(CORVANE_SOURCE_DIR "/locale/en-US.ini")}
                               + arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return {};
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(15000))
                return {};
        }
        m_url = QString::fromUtf8(m_process.readLine()).trimmed();
        return m_url;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QString url() const { return m_url; }
    QString manifestUrl() const { return m_url + QStringLiteral("/downloads/obs/latest.json"); }

    // The paths requested so far, in order.
    QStringList requests()
    {
        m_process.waitForReadyRead(50);
        while (m_process.canReadLine()) {
            const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("request ")))
                m_requests.append(line.section(QLatin1Char(' '), 2));
        }
        return m_requests;
    }

private:
    QProcess m_process;
    QString m_url;
    QStringList m_requests;
};

} // namespace corvane::test
