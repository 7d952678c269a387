#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QColor;
class QCoreApplication;
class QWindow;

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

// Qt Quick sizes its atlas of small images to the window (2048 x 1024 for the main
// window), 8 MB that the software renderer keeps in memory although the interface's
// icons and logo fill a small part of it. Sets a 512 x 512 atlas unless the
// environment already chooses a size. Call before the first window is created.
void limitTextureAtlas();

// Until a window's first frame is drawn, X shows nothing in it: black, or whatever
// was behind it. Makes window's native window (creating it, still unshown) fill itself
// with color instead, so it shows its background from the moment it appears. Only on
// X11; elsewhere it does nothing. Call before the window is first shown.
void showBackgroundUntilFirstFrame(QWindow* window, const QColor& color);

// The X pixel value of the opaque color in a true-colour visual with these channel
// masks and depth (bits outside the colour masks are alpha, set to opaque).
quint32 backgroundPixel(const QColor& color, quint32 redMask, quint32 greenMask, quint32 blueMask, int depth);

} // namespace Startup
