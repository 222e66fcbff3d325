#include "update/SelfUpdatePolicy.h"

namespace corvane {

namespace {

struct OwnerText {
    UpdateOwner owner;
    const char *text;
};

constexpr OwnerText kOwnerTexts[] = {
    {UpdateOwner::PackageManager, "This copy of the plugin was installed with the system's package manager, so it "
                                  "cannot update itself. Update it with the package manager (for example, "
                                  "sudo apt upgrade)."},
    {UpdateOwner::Flatpak, "This copy of the plugin runs inside Flatpak, so it cannot update itself. Update it with "
                           "Flatpak (flatpak update)."},
#if defined(Q_OS_WIN)
    {UpdateOwner::Nobody, "This copy of the plugin was installed for all users, so it cannot update itself. "
                          "Download and run the installer from %1."},
#else
    {UpdateOwner::Nobody, "This copy of the plugin is in a folder you cannot change, so it cannot update itself. "
                          "Download the new version from %1."},
#endif
};

UpdateOwner ownerOf(const InstallFacts &facts)
{
    if (facts.flatpak)
        return UpdateOwner::Flatpak;
    if (facts.systemPackage)
        return UpdateOwner::PackageManager;
    return facts.folderPresent && facts.folderWritable ? UpdateOwner::Plugin : UpdateOwner::Nobody;
}

} // namespace

QString downloadPlace(const QString &downloadPage)
{
    return downloadPage.isEmpty() ? QStringLiteral("the Corvane website") : downloadPage;
}

SelfUpdateDecision decideSelfUpdate(const InstallFacts &facts, const QString &downloadPage)
{
    SelfUpdateDecision decision;
    decision.owner = ownerOf(facts);
    for (const OwnerText &entry : kOwnerTexts) {
        if (entry.owner != decision.owner)
            continue;
        decision.reason = QString::fromUtf8(entry.text);
        if (decision.reason.contains(QLatin1String("%1")))
            decision.reason = decision.reason.arg(downloadPlace(downloadPage));
    }
    return decision;
}

bool isSystemPackagePath(const QString &modulePath)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(modulePath)
    return false;
#else
    return modulePath.startsWith(QLatin1String("/usr/")) && !modulePath.startsWith(QLatin1String("/usr/local/"));
#endif
}

} // namespace corvane
