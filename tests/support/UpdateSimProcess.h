#pragma once
// Runs tools/updatesim as a child process on a free 127.0.0.1 port, serving a package built
// from the freshly built plugin. Header-only: each test executable that needs it includes it.

#include "support/SimProcess.h"

#include <QStringList>

namespace corvane::test {

class UpdateSimProcess {
public:
    // Starts the simulator with the plugin and `arguments`; its URL, or empty on failure. It
    // builds its package first, hence the longer wait.
    QString start(const QStringList &arguments = {})
    {
        m_url = m_sim.start(QStringLiteral(CORVANE_UPDATE_SIM),
                            QStringList{QStringLiteral("--plugin"), QStringLiteral(CORVANE_MODULE_PATH),
                                        QStringLiteral("--locale"), QStringLiteral(CORVANE_SOURCE_DIR "/locale/en-US.ini")}
                                + arguments,
                            15000);
        return m_url;
    }

    void stop() { m_sim.stop(); }

    QString url() const { return m_url; }
    QString manifestUrl() const { return m_url + QStringLiteral("/downloads/obs/latest.json"); }

    // The paths requested so far, in order.
    QStringList requests()
    {
        QProcess &process = m_sim.process();
        process.waitForReadyRead(50);
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            if (line.startsWith(QLatin1String("request ")))
                m_requests.append(line.section(QLatin1Char(' '), 2));
        }
        return m_requests;
    }

private:
    SimProcess m_sim;
    QString m_url;
    QStringList m_requests;
};

} // namespace corvane::test
