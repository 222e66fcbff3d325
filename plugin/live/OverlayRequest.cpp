#include "live/OverlayRequest.h"

#include <QList>

#include <cstring>

namespace corvane {

namespace {

constexpr char kEnd[] = "\r\n\r\n";

// RFC 9110's token characters: method and header names.
bool isToken(const QByteArray &text)
{
    static constexpr char kSymbols[] = "!#$%&'*+-.^_`|~";
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alnum && (c == '\0' || !std::strchr(kSymbols, c)))
            return false;
    }
    return true;
}

// Visible ASCII only: no spaces, controls or raw bytes above 0x7e in a request target.
bool isTarget(const QByteArray &text)
{
    if (!text.startsWith('/'))
        return false;
    for (const char c : text) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f || c == '#')
            return false;
    }
    return true;
}

bool isFieldValue(const QByteArray &text)
{
    for (const char c : text) {
        if ((uchar(c) < 0x20 && c != '\t') || uchar(c) == 0x7f)
            return false;
    }
    return true;
}

// The comma-separated tokens of a header such as Connection, lower case.
bool hasToken(const QByteArray &list, const char *token)
{
    for (const QByteArray &item : list.split(','))
        if (item.trimmed().toLower() == token)
            return true;
    return false;
}

// A query's name or value as a form reads it: "+" is a space, then percent escapes.
QString formDecoded(QByteArray text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.replace('+', ' ')));
}

} // namespace

OverlayRequest &OverlayRequest::refuse(int status)
{
    m_state = State::Refused;
    m_status = status;
    return *this;
}

OverlayRequest OverlayRequest::parse(const QByteArray &received)
{
    OverlayRequest request;
    // A bare CR or LF anywhere in the head: lines would end differently for another reader.
    const qsizetype end = received.indexOf(kEnd);
    const qsizetype scanned = end < 0 ? received.size() : end + 4;
    for (qsizetype i = 0; i < scanned; ++i) {
        const char c = received.at(i);
        const bool bareCr = c == '\r' && i + 1 < scanned && received.at(i + 1) != '\n';
        const bool bareLf = c == '\n' && (i == 0 || received.at(i - 1) != '\r');
        if (bareCr || bareLf)
            return request.refuse(400);
    }
    if (end < 0 || scanned > kMaxHeadBytes)
        return scanned > kMaxHeadBytes ? request.refuse(431) : request;
    const QList<QByteArray> lines = received.left(end).split('\n');
    if (!request.readRequestLine(lines.first().chopped(lines.size() > 1 ? 1 : 0)))
        return request;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        // Every line but the last still ends in its CR; the last lost it to the split.
        const QByteArray line = i + 1 < lines.size() ? lines.at(i).chopped(1) : lines.at(i);
        if (!request.readHeader(line))
            return request;
    }
    if (!request.finish())
        return request;
    request.m_state = State::Complete;
    request.m_headSize = scanned;
    return request;
}

bool OverlayRequest::readRequestLine(const QByteArray &line)
{
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3) {
        refuse(400);
        return false;
    }
    const QByteArray &version = parts.at(2);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool wellFormed = version.size() == 8 && version.startsWith("HTTP/") && version.at(6) == '.';
        refuse(wellFormed ? 505 : 400);
        return false;
    }
    m_http10 = version == "HTTP/1.0";
    if (!isToken(parts.at(0))) {
        refuse(400);
        return false;
    }
    if (parts.at(0) != "GET") {
        refuse(405);
        return false;
    }
    if (!isTarget(parts.at(1))) {
        refuse(400);
        return false;
    }
    const qsizetype question = parts.at(1).indexOf('?');
    m_path = question < 0 ? parts.at(1) : parts.at(1).left(question);
    m_query = question < 0 ? QByteArray() : parts.at(1).mid(question + 1);
    if (!readDevice()) {
        refuse(400);
        return false;
    }
    return true;
}

bool OverlayRequest::readDevice()
{
    bool named = false;
    for (const QByteArray &item : m_query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (formDecoded(equals < 0 ? item : item.left(equals)) != QLatin1String("device"))
            continue;
        if (named)
            return false;
        named = true;
        m_device = equals < 0 ? QString() : formDecoded(item.mid(equals + 1));
    }
    return true;
}

bool OverlayRequest::readHeader(const QByteArray &line)
{
    // A line starting with a space or tab continues the one before (obsolete folding):
    // refused, as is a name with a space before its colon.
    const qsizetype colon = line.indexOf(':');
    const QByteArray name = colon < 0 ? QByteArray() : line.left(colon).toLower();
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (!isToken(name) || !isFieldValue(value)) {
        refuse(400);
        return false;
    }
    const auto once = [this](QByteArray &field, bool &present, const QByteArray &text) {
        if (present) {
            refuse(400);
            return false;
        }
        present = true;
        field = text;
        return true;
    };
    if (name == "host")
        return once(m_host, m_hasHost, value);
    if (name == "origin")
        return once(m_origin, m_hasOrigin, value);
    if (name == "sec-fetch-site")
        return once(m_fetchSite, m_hasFetchSite, value.toLower());
    if (name == "connection")
        m_connection += ',' + value;
    else if (name == "upgrade")
        m_upgrade += ',' + value;
    else if (name == "transfer-encoding")
        m_hasTransferEncoding = true;
    else if (name == "content-length") {
        bool number = !value.isEmpty();
        for (const char c : value)
            number = number && c >= '0' && c <= '9';
        const qint64 length = number ? value.toLongLong(&number) : 0;
        if (!number) {
            refuse(400);
            return false;
        }
        m_hasBody = m_hasBody || length > 0;
    }
    return true;
}

bool OverlayRequest::finish()
{
    if (m_hasTransferEncoding) {
        refuse(501);
        return false;
    }
    if (m_hasBody) {
        refuse(413);
        return false;
    }
    // HTTP/1.1 makes Host mandatory; only an HTTP/1.0 tool may leave it out.
    if (!m_hasHost && !m_http10) {
        refuse(400);
        return false;
    }
    m_wantsWebSocket = hasToken(m_upgrade, "websocket") && hasToken(m_connection, "upgrade");
    m_keepAlive = m_http10 ? hasToken(m_connection, "keep-alive") : !hasToken(m_connection, "close");
    return true;
}

} // namespace corvane
