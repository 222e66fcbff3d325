// corvane-update-sim: a stand-in for the Corvane download service on 127.0.0.1.
#include "UpdateSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace corvane::sim;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-update-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stands in for the Corvane download service on 127.0.0.1 over plain HTTP, or over\n"
                       "TLS with --tls-cert and --tls-key. Serves /downloads/obs/latest.json and one update\n"
                       "package, a zip archive built at start from the plugin library given (a real,\n"
                       "installable newer version). Prints its URL on the first line (set \"downloads_url\"\n"
                       "in settings.json to it), then one line \"request METHOD PATH\" per request, followed\n"
                       "by \" (plain http)\" for the plain server the TLS cases \"redirect-http\" send to.\n\n"
                       "Manifest cases: %1\nPackage cases: %2")
            .arg(UpdateSim::manifestCases().join(QStringLiteral(", ")),
                 UpdateSim::packageCases().join(QStringLiteral(", "))));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port (0 picks a free one)."),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption plugin(QStringLiteral("plugin"), QStringLiteral("The plugin library to package."),
                                    QStringLiteral("file"));
    const QCommandLineOption locale(QStringLiteral("locale"), QStringLiteral("The locale file to package."),
                                    QStringLiteral("file"));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The version announced."),
                                     QStringLiteral("v"), QStringLiteral("1.0.2"));
    const QCommandLineOption platform(QStringLiteral("platform"), QStringLiteral("The package key served."),
                                      QStringLiteral("key"), QStringLiteral("linux-x64"));
    const QCommandLineOption library(QStringLiteral("library-path"),
                                     QStringLiteral("Where the library goes inside the plugin folder."),
                                     QStringLiteral("path"), QStringLiteral("bin/64bit/corvane-obs.so"));
    const QCommandLineOption manifestCase(QStringLiteral("manifest"), QStringLiteral("Manifest case."),
                                          QStringLiteral("case"), QStringLiteral("newer"));
    const QCommandLineOption packageCase(QStringLiteral("package"), QStringLiteral("Package case."),
                                         QStringLiteral("case"), QStringLiteral("ok"));
    const QCommandLineOption escapeDir(QStringLiteral("escape-dir"),
                                       QStringLiteral("Folder that the \"absolute\" package's stray member names."),
                                       QStringLiteral("dir"), QStringLiteral("/tmp"));
    const QCommandLineOption filler(QStringLiteral("filler-bytes"),
                                    QStringLiteral("Add this many incompressible bytes to the package."),
                                    QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption bomb(QStringLiteral("bomb-mib"),
                                  QStringLiteral("What the \"bomb\" package's extra member expands to."),
                                  QStringLiteral("MiB"), QStringLiteral("64"));
    const QCommandLineOption tlsCertificate(QStringLiteral("tls-cert"), QStringLiteral("Serve over TLS with this PEM certificate."),
                                            QStringLiteral("file"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"), QStringLiteral("The certificate's PEM RSA private key."),
                                    QStringLiteral("file"));
    parser.addOptions({port, plugin, locale, version, platform, library, manifestCase, packageCase, escapeDir,
                       filler, bomb, tlsCertificate, tlsKey});
    parser.process(app);

    SimOptions options;
    options.pluginFile = parser.value(plugin);
    options.localeFile = parser.value(locale);
    options.version = parser.value(version);
    options.platform = parser.value(platform);
    options.libraryPath = parser.value(library);
    options.manifestCase = parser.value(manifestCase);
    options.packageCase = parser.value(packageCase);
    options.escapeDir = parser.value(escapeDir);
    options.fillerBytes = parser.value(filler).toLongLong();
    options.bombMiB = parser.value(bomb).toInt();
    options.tlsCertificate = parser.value(tlsCertificate);
    options.tlsKey = parser.value(tlsKey);
    if (!UpdateSim::manifestCases().contains(options.manifestCase)
        || !UpdateSim::packageCases().contains(options.packageCase)) {
        std::fprintf(stderr, "corvane-update-sim: unknown case; see --help\n");
        return 2;
    }

    UpdateSim sim(options);
    QString error;
    if (options.pluginFile.isEmpty() || !sim.prepare(&error)) {
        std::fprintf(stderr, "corvane-update-sim: %s\n",
                     options.pluginFile.isEmpty() ? "--plugin is required" : qPrintable(error));
        return 2;
    }
    if (!sim.listen(static_cast<quint16>(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "corvane-update-sim: cannot listen: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(sim.url()));
    std::fflush(stdout);
    return app.exec();
}
