#pragma once
// A simulator from tools/ as a child process: started with its arguments, it prints the
// address it serves on its first line, and it is killed when the test is done with it.

#include <QProcess>
#include <QStringList>

namespace corvane::test {

class SimProcess {
public:
    ~SimProcess() { stop(); }

    // Starts `program` and waits up to `firstLineMs` for its first line; that line trimmed,
    // or empty on failure.
    QString start(const QString &program, const QStringList &arguments, int firstLineMs)
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(5000))
            return {};
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(firstLineMs))
                return {};
        }
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace corvane::test
