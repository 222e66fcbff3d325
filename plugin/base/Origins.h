#pragma once

#include <QString>

namespace corvane {

// The maker's services. settings.json may name local stand-ins ("portal_url",
// "downloads_url") for development; chooseOrigin() decides whether such a value is used.
inline constexpr char kPortalOrigin[] = "https://portal.corvane.com";
inline constexpr char kDownloadsOrigin[] = "https://downloads.corvane.com";

// An address that may carry the cloud session or fetch plugin code: https with a host, or
// plain http only to this computer (127.0.0.1 or localhost), so that no cookie or package
// travels in clear to another host.
bool isAllowedAddress(const QString &address);

// `configured` without a trailing slash when it is allowed, else `fallback`.
QString chooseOrigin(const QString &configured, const QString &fallback);

} // namespace corvane
