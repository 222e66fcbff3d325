#include "update/PluginVersion.h"
#include "update/UpdateManifest.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "parseManifest: %s\n", what);
    std::abort();
}

} // namespace

// Whatever the download service sends, a manifest that offers an update must name an
// allowed address, a well-formed digest and a version newer than ours; a refusal must say why.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const ManifestResult result = parseManifest(body, QStringLiteral("1.0.1"), QStringLiteral("linux-x64"),
                                                QStringLiteral("30.2.3"));
    if (!result.ok) {
        if (result.code.isEmpty() || !result.message.endsWith(QLatin1Char('.')))
            fail("refusal without a code or a sentence");
        return 0;
    }
    const UpdateManifest &manifest = result.manifest;
    if (!manifest.updateApplies)
        return 0;
    static const QRegularExpression digest(QStringLiteral("^[0-9a-f]{64}$"));
    if (!isAllowedUpdateUrl(manifest.url))
        fail("update from an address that is not allowed");
    if (!digest.match(manifest.sha256).hasMatch())
        fail("update without a well-formed digest");
    if (compareVersions(manifest.version, QStringLiteral("1.0.1")) != 1)
        fail("update to a version that is not newer");
    if (manifest.size < 0)
        fail("negative size");
    if (!manifest.minObs.isEmpty() && compareVersions(QStringLiteral("30.2.3"), manifest.minObs) < 0)
        fail("update that needs a newer OBS");
    return 0;
}
