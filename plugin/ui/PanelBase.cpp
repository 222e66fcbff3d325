#include "ui/PanelBase.h"

#include "device/DeviceSession.h"
#include "device/rpc/RpcClient.h"
#include "device/rpc/RpcMethodTable.h"

#include <QLabel>

namespace corvane {

PanelBase::PanelBase(DeviceSession *session, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
    , m_message(new QLabel(this))
{
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setTextFormat(Qt::PlainText);
}

void PanelBase::refresh() {}

QString PanelBase::errorStyle()
{
    return QStringLiteral("color: #d9534f;");
}

void PanelBase::showMessage(const QString &text, bool isError)
{
    m_message->setStyleSheet(isError ? errorStyle() : QString());
    m_message->setText(text);
}

DeviceSession *PanelBase::requireSession()
{
    if (!m_session)
        showMessage(tr("Not connected to a device."), true);
    return m_session.data();
}

void PanelBase::call(const QString &method, const QJsonObject &params, RpcCallback callback, int timeoutMs)
{
    DeviceSession *session = requireSession();
    if (!session)
        return;
    QPointer<PanelBase> self(this);
    session->rpc()->call(method, params,
                         [self, callback = std::move(callback)](const RpcResult &result) {
                             if (self && callback)
                                 callback(result);
                         },
                         timeoutMs > 0 ? timeoutMs : rpcTimeoutMs(method));
}

QLabel *PanelBase::makeText(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace corvane
