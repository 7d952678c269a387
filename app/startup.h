#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QCoreApplication;
class QQuickWindow;

namespace Startup {

// The document named by the first command-line argument (arguments[0] is the
// program) as "file:///" + its absolute path, backslashes turned into slashes,
// with '%', '#' and '?' percent-encoded so the text reads back as the same
// local file. "" when there is no argument or it is empty.
QString openFilePath(const QStringList& arguments);

// "qrc:/main.qml", or the local file overridePath when it is not empty (only
// the test build of the program passes one).
QUrl rootQmlUrl(const QString& overridePath = QString());

// SIGTERM ends the program as it ends any Unix program: the event loop of app
// is left with exit code 0, without the window's save prompt (unsaved changes
// are lost), so settings and the log are complete. A second SIGTERM before
// that ends the process at once.
void quitOnTermination(QCoreApplication* app);

// Chromium refuses to run as root with its sandbox. As root, turns the web
// views' sandbox off (before QtWebEngine::initialize()) and returns true.
bool disableWebSandboxForRoot();

// The settings store holds the distribution password and the group key in plain
// text: its folder is made 0700 and the file 0600 (created empty when missing),
// which later atomic rewrites of the file keep. False when either can't be set.
bool protectSettingsFile(const QString& path);

// On the window's screensBuilt() signal (emitted just before it is first shown), renders
// one frame of it off screen. That compiles the scene's shaders while the splash is still
// up, so the window, once shown, is not left empty while they compile. Does nothing when
// Qt's shader cache already holds programs (any run after the first).
void renderFirstFrameAhead(QQuickWindow* window);

// Qt's cache of linked shader programs below cacheFolder (the generic cache folder) holds
// at least one program.
bool shaderCacheFilled(const QString& cacheFolder);

} // namespace Startup
