#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// Both entry points of a target; the body that follows sees `data` and `size`.
#define GELV_FUZZ_TARGET                                                                                     \
    extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzSupport::start(), 0; }                   \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)

namespace FuzzSupport {

inline void quiet(QtMsgType, const QMessageLogContext&, const QString&) { }

// An application object for the whole run, and no log output: the code under
// test logs every refusal, which would only slow the fuzzer down.
inline void start()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
}

// A folder of this run's own below the temporary location, for the files
// that a target writes.
inline QString scratch()
{
    static const QString dir = [] {
        const QString path = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                                 .filePath(QStringLiteral("fuzz-%1").arg(QCoreApplication::applicationPid()));
        QDir().mkpath(path);
        return path;
    }();
    return dir;
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(size));
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
        && file.flush();
}

// A broken property of the code under test: abort, so that the fuzzer keeps the input.
inline void require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "property failed: %s\n", what);
        abort();
    }
}

} // namespace FuzzSupport
