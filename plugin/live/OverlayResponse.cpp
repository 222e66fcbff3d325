#include "live/OverlayResponse.h"

namespace corvane {

namespace {

struct Reason {
    int status;
    const char *text;
};

constexpr Reason kReasons[] = {
    {200, "OK"},
    {301, "Moved Permanently"},
    {400, "Bad Request"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {413, "Content Too Large"},
    {426, "Upgrade Required"},
    {431, "Request Header Fields Too Large"},
    {501, "Not Implemented"},
    {503, "Service Unavailable"},
    {505, "HTTP Version Not Supported"},
};

// The texts a refusal's body says beyond its reason.
struct Body {
    int status;
    const char *text;
};

constexpr Body kBodies[] = {
    {426, "Connect with a WebSocket"},
};

} // namespace

QByteArray OverlayResponse::reason(int status)
{
    for (const Reason &entry : kReasons) {
        if (entry.status == status)
            return entry.text;
    }
    return "Error";
}

QByteArray OverlayResponse::head(int status, const Headers &headers, qint64 contentLength, bool keepAlive)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    for (const auto &header : headers)
        head += header.name + ": " + header.value + "\r\n";
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "Cross-Origin-Resource-Policy: same-origin\r\n";
    head += "X-Content-Type-Options: nosniff\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
    return head + "\r\n";
}

QByteArray OverlayResponse::text(int status, bool keepAlive, const Headers &extra)
{
    QByteArray body = reason(status);
    for (const Body &entry : kBodies) {
        if (entry.status == status)
            body = entry.text;
    }
    body += '\n';
    Headers headers = extra;
    headers.append(Header{"Content-Type", "text/plain; charset=utf-8"});
    return head(status, headers, body.size(), keepAlive) + body;
}

} // namespace corvane
