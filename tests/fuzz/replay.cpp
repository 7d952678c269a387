// Runs a fuzz target once over each kept input (seeds and former crashes), so
// that every build checks them, also without clang.
#include "fuzzsupport.h"

#include <QDirIterator>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    QStringList roots = QString::fromUtf8(GELV_FUZZ_INPUTS).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (int i = 1; i < argc; ++i)
        roots << QString::fromLocal8Bit(argv[i]);
    int count = 0;
    for (const QString& root : roots) {
        QStringList files;
        if (QFileInfo(root).isFile())
            files << root;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString& path : files) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return fprintf(stderr, "cannot read %s\n", qPrintable(path)), 1;
            const QByteArray bytes = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            ++count;
        }
    }
    printf("%d inputs ran\n", count);
    return count > 0 ? 0 : 1;
}
