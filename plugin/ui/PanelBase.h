#pragma once

#include "device/DeviceSession.h"
#include "device/rpc/RpcResult.h"

#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <utility>

namespace corvane {

// One page of the device manager. It holds the session weakly (the wizard may delete it at
// any time), owns a message line for outcomes and errors, and issues requests through call,
// whose callbacks never run on a panel that has gone.
class PanelBase : public QWidget {
    Q_OBJECT
public:
    explicit PanelBase(DeviceSession *session, QWidget *parent = nullptr);

    // Asks the device again for what the panel shows; the base shows nothing.
    virtual void refresh();

    DeviceSession *session() const { return m_session.data(); }
    QLabel *messageLabel() const { return m_message; }

    static QString errorStyle();

protected:
    // Sends one request on the session's client; timeoutMs 0 takes the method's deadline.
    // Without a live session the panel says so and nothing is sent.
    void call(const QString &method, const QJsonObject &params, RpcCallback callback, int timeoutMs = 0);
    void showMessage(const QString &text, bool isError = false);
    // The session, or nullptr after saying "Not connected to a device.".
    DeviceSession *requireSession();
    // Wraps a callback of this panel so that it does nothing once the panel has gone; for
    // the session's own operations, whose callbacks always run.
    template <typename Fn>
    auto guarded(Fn fn)
    {
        return [guard = QPointer<PanelBase>(this), fn = std::move(fn)](auto &&...args) {
            if (guard)
                fn(std::forward<decltype(args)>(args)...);
        };
    }
    // A label for a section heading or an explanation, word-wrapped.
    static QLabel *makeText(const QString &text, QWidget *parent);

private:
    QPointer<DeviceSession> m_session;
    QLabel *m_message = nullptr;
};

} // namespace corvane
