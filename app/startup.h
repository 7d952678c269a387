#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

class QCoreApplication;

namespace Startup {

// The document named by the first command-line argument (arguments[0] is the
// program) as "file:///" + its absolute path, backslashes turned into slashes,
// with '%', '#' and '?' percent-encoded so the text reads back as the same
// local file. "" when there is no argument or it is empty.
QString openFilePath(const QStringList &arguments);

// "qrc:/main.qml", or the local file named by GELV_ROOT_QML (used by tests
// that start the application with another root file).
QUrl rootQmlUrl();

// Linux has no application-level close event: SIGTERM (the session's or a
// process manager's quit request) is turned into one, sent to app, so it takes
// the window's close path like a quit request on other desktops.
void forwardTerminationToQuitRequest(QCoreApplication *app);

// The settings store holds the distribution password and the group key in plain
// text: its folder is made 0700 and the file 0600 (created empty when missing),
// which later atomic rewrites of the file keep. False when either can't be set.
bool protectSettingsFile(const QString &path);

} // namespace Startup
