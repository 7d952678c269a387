#include "guitest.h"

#include <QFile>
#include <QFontInfo>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QSettings>

#include <memory>

// Runs the whole interface once, as a first start would, then reads the settings file
// back with QSettings: every category and key name stays what earlier versions stored.
class tst_SettingsKeys : public QObject
{
    Q_OBJECT

private slots:
    void exactlyTheKnownKeysAreStored();
};

void tst_SettingsKeys::exactlyTheKnownKeysAreStored()
{
    QVERIFY(GuiTest::setUpApplication());
    QCOMPARE(QFontInfo(QGuiApplication::font()).family(), QStringLiteral("Assistant")); // texts not styled by QML
    const QString file = QSettings().fileName();
    QFile::remove(file);
    {
        QQmlApplicationEngine engine;
        engine.rootContext()->setContextProperty(QStringLiteral("openFilePath"), QString());
        engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
        QVERIFY(!engine.rootObjects().isEmpty());
        QObject *window = engine.rootObjects().constFirst();
        QTRY_VERIFY_WITH_TIMEOUT(window->property("initialLoadDone").toBool(), 20000);
        // Values the user would enter (within the 800x600 offscreen screen), through the interface's accessors.
        QQmlComponent setter(&engine);
        setter.setData("import QtQuick 2.15\nimport \"qrc:/\"\nQtObject { Component.onCompleted: {\n"
                       "  ['FirstName', 'LastName', 'Email', 'Company'].forEach(function (f) {"
                       " Globals['settingsUser_Set' + f]('x') })\n"
                       "  Globals.settingsUser_SetGroupKey('0123456789abcdef0123456789abcdef')\n"
                       "  Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)\n"
                       "  ApplicationWindowMediator.resize(777, 555)\n} }\n",
                       QUrl(QStringLiteral("qrc:/settingssetter.qml")));
        std::unique_ptr<QObject> done(setter.create());
        QVERIFY2(done, qPrintable(setter.errorString()));
        QTRY_COMPARE(window->property("width").toInt(), 777);
    }
    // The engine is gone: every settings object has written what it held.
    QStringList expected = {
        "ApplicationWindow/height", "ApplicationWindow/width", "ApplicationWindow/x", "ApplicationWindow/y",
        "Document/datastore", "Home/selectedPrinterModelName", "User/company", "User/email", "User/groupKey",
        "User/nameFirst", "User/nameLast", "User/printerModels", "User/updateAutomaticallyPrompt",
        "distributionPassword/password",
    };
    // The printer connection's keys come with its component, once that is built.
    if (QFile::exists(QStringLiteral(":/NetworkConnectionMediator.qml")))
        expected << "PrinterIP/previousPrintersDropdownList" << "PrinterIP/printerIP" << "PrinterIP/wasConnectedOnLastLoad";
    const QSettings settings(file, QSettings::IniFormat);
    QStringList stored = settings.allKeys();
    stored.sort();
    expected.sort();
    QCOMPARE(stored, expected);
    QCOMPARE(settings.value("User/printerModels").toString(),
             R"({"ORV_2.0_AA":"Orvo A","ORV_2.0_BB":"Orvo B","ORV_2.0_TT":"Tesk Print"})");
    QCOMPARE(settings.value("ApplicationWindow/width").toString() + "x" + settings.value("ApplicationWindow/height").toString(),
             QStringLiteral("777x555"));
}

GELV_GUI_TEST_MAIN(tst_SettingsKeys)

#include "tst_settingskeys.moc"
