// For benchmarks that run the application's QML in their own process, offscreen.
#pragma once

#include "registertypes.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QVariant>
#include <QtWebEngine>

#include <algorithm>
#include <cstdio>
#include <vector>

// Before the QApplication is made: offscreen and drawn in software, unless the
// environment chose otherwise.
inline void prepareOffscreenQml()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QtWebEngine::initialize();
}

// After it: settings kept under home, the application's names and QML types, and
// only messages of level `least` and above, on stderr.
inline void setUpQmlBench(const QTemporaryDir& home, QtMsgType least)
{
    static QtMsgType shownFrom;
    shownFrom = least;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    registerQmlTypes();
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type >= shownFrom)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
}

// The root object of the QML file at path, or null when it did not load.
inline QObject* loadBenchQml(QQmlApplicationEngine& engine, const char* path)
{
    engine.load(QUrl::fromLocalFile(QString::fromUtf8(path)));
    return engine.rootObjects().isEmpty() ? nullptr : engine.rootObjects().first();
}

// Calls a function of the QML root with up to two arguments; its result.
inline QVariant call(QObject* root, const char* function, const QVariant& a = {}, const QVariant& b = {})
{
    QVariant result;
    if (b.isValid())
        QMetaObject::invokeMethod(
            root, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a), Q_ARG(QVariant, b));
    else if (a.isValid())
        QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, a));
    else
        QMetaObject::invokeMethod(root, function, Q_RETURN_ARG(QVariant, result));
    return result;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
