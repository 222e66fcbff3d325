#include "RpcMethods.h"

#include <QJsonDocument>

namespace corvane::devsim {

RpcMethods::RpcMethods(std::function<QJsonObject()> status)
{
    add(QStringLiteral("getStatus"), [status](const QJsonObject &) { return Reply::success(status()); });

    // Echoes its parameters: a large request comes back as a large reply.
    add(QStringLiteral("echo"), [](const QJsonObject &params) { return Reply::success(params); });

    // {"size": n}: a result carrying n bytes of text, fragmented on the line above 2048 bytes.
    add(QStringLiteral("bigResult"), [](const QJsonObject &params) {
        const int size = qBound(0, params.value(QLatin1String("size")).toInt(10000), 60000);
        QString blob(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            blob[i] = QLatin1Char(char('a' + i % 26));
        return Reply::success(QJsonObject{{QStringLiteral("size"), size}, {QStringLiteral("blob"), blob}});
    });

    // {"times": n, "key": k}: "busy" for the first n calls with that key, then success with
    // the number of attempts, as a device does while it finishes other work.
    add(QStringLiteral("busyFor"), [this](const QJsonObject &params) {
        const QString key = params.value(QLatin1String("key")).toString();
        auto it = m_busyLeft.find(key);
        if (it == m_busyLeft.end())
            it = m_busyLeft.insert(key, params.value(QLatin1String("times")).toInt(1));
        if (*it > 0) {
            --*it;
            return Reply::failure(QStringLiteral("busy"), QStringLiteral("The device is busy"));
        }
        const int attempts = params.value(QLatin1String("times")).toInt(1) + 1;
        m_busyLeft.erase(it);
        return Reply::success(QJsonObject{{QStringLiteral("attempts"), attempts}});
    });

    // A refusal without details, which the client words itself.
    add(QStringLiteral("refuse"), [](const QJsonObject &) { return Reply::failure(QString(), QString()); });
}

void RpcMethods::add(const QString &method, Handler handler)
{
    m_handlers.insert(method, std::move(handler));
}

QByteArray RpcMethods::handle(const QByteArray &request, QString *method)
{
    const QJsonObject envelope = QJsonDocument::fromJson(request).object();
    if (!envelope.contains(QLatin1String("id")))
        return {};
    const QString name = envelope.value(QLatin1String("method")).toString();
    if (method)
        *method = name;
    const auto handler = m_handlers.constFind(name);
    const Reply reply = handler != m_handlers.cend()
        ? (*handler)(envelope.value(QLatin1String("params")).toObject())
        : Reply::failure(QStringLiteral("unknown_method"), QStringLiteral("Unknown method '%1'").arg(name));

    QJsonObject out{{QStringLiteral("id"), envelope.value(QLatin1String("id"))}, {QStringLiteral("ok"), reply.ok}};
    if (reply.ok) {
        out.insert(QStringLiteral("result"), reply.result);
    } else {
        QJsonObject error;
        if (!reply.code.isEmpty())
            error.insert(QStringLiteral("code"), reply.code);
        if (!reply.message.isEmpty())
            error.insert(QStringLiteral("message"), reply.message);
        if (!error.isEmpty())
            out.insert(QStringLiteral("error"), error);
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

} // namespace corvane::devsim
