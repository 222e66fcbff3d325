// Runs a fuzz target over saved inputs without libFuzzer, so that a compiler without it
// (gcc, with the sanitizers) still checks every seed: each argument is a file or a folder
// of files. Exits non-zero when an argument holds no input at all.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int replayFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qUtf8Printable(path));
        return 0;
    }
    const QByteArray bytes = file.readAll();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (!QFileInfo(path).isDir()) {
            replayed += replayFile(path);
            continue;
        }
        const QFileInfoList files = QDir(path).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo &file : files)
            replayed += replayFile(file.filePath());
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
