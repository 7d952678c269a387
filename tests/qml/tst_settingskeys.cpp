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
    void initTestCase();
    void storeIsTheOrganisationFile();
    void exactlyTheKnownKeysAreStored();
    void valuesLandUnderTheirKeys_data();
    void valuesLandUnderTheirKeys();

private:
    QString m_file;
};

void tst_SettingsKeys::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());
    QCOMPARE(QFontInfo(QGuiApplication::font()).family(), QStringLiteral("Assistant")); // texts not styled by QML
    m_file = QSettings().fileName();
    QFile::remove(m_file);

    QQmlApplicationEngine engine;
    engine.rootContext()->setContextProperty(QStringLiteral("openFilePath"), QString());
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QVERIFY(!engine.rootObjects().isEmpty());
    QObject *window = engine.rootObjects().constFirst();
    QTRY_VERIFY_WITH_TIMEOUT(window->property("initialLoadDone").toBool(), 20000);

    // Values the user would enter (sizes within the 800x600 offscreen screen), set through the interface's own accessors.
    QQmlComponent setter(&engine);
    setter.setData("import QtQuick 2.15\n"
                   "import \"qrc:/\"\n"
                   "QtObject { Component.onCompleted: {\n"
                   "  Globals.settingsUser_SetFirstName('Ada')\n"
                   "  Globals.settingsUser_SetLastName('Lovelace')\n"
                   "  Globals.settingsUser_SetEmail('ada@example.invalid')\n"
                   "  Globals.settingsUser_SetCompany('Analytical')\n"
                   "  Globals.settingsUser_SetGroupKey('0123456789abcdef0123456789abcdef')\n"
                   "  Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)\n"
                   "  ApplicationWindowMediator.resize(777, 555)\n"
                   "} }\n",
                   QUrl(QStringLiteral("qrc:/settingssetter.qml")));
    std::unique_ptr<QObject> done(setter.create());
    QVERIFY2(done, qPrintable(setter.errorString()));
    QTRY_COMPARE(window->property("width").toInt(), 777);
}

void tst_SettingsKeys::storeIsTheOrganisationFile()
{
    // The engine is gone: every settings object has written what it held.
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Veltrisan/Gelvantrium.conf");
    QCOMPARE(QDir::cleanPath(m_file), QDir::cleanPath(expected));
    QVERIFY(QFile::exists(m_file));
}

void tst_SettingsKeys::exactlyTheKnownKeysAreStored()
{
    QStringList expected = {
        QStringLiteral("ApplicationWindow/height"), QStringLiteral("ApplicationWindow/width"),
        QStringLiteral("ApplicationWindow/x"), QStringLiteral("ApplicationWindow/y"),
        QStringLiteral("Document/datastore"), QStringLiteral("Home/selectedPrinterModelName"),
        QStringLiteral("User/company"), QStringLiteral("User/email"), QStringLiteral("User/groupKey"),
        QStringLiteral("User/nameFirst"), QStringLiteral("User/nameLast"), QStringLiteral("User/printerModels"),
        QStringLiteral("User/updateAutomaticallyPrompt"), QStringLiteral("distributionPassword/password"),
    };
    // The printer connection's keys come with its component, once that is built.
    if (QFile::exists(QStringLiteral(":/NetworkConnectionMediator.qml"))) {
        expected << QStringLiteral("PrinterIP/previousPrintersDropdownList") << QStringLiteral("PrinterIP/printerIP")
                 << QStringLiteral("PrinterIP/wasConnectedOnLastLoad");
    }
    QStringList stored = QSettings(m_file, QSettings::IniFormat).allKeys();
    stored.sort();
    expected.sort();
    QCOMPARE(stored, expected);
}

void tst_SettingsKeys::valuesLandUnderTheirKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("printer models in order")
        << "User/printerModels" << R"({"ORV_2.0_AA":"Orvo A","ORV_2.0_BB":"Orvo B","ORV_2.0_TT":"Tesk Print"})";
    QTest::newRow("width") << "ApplicationWindow/width" << "777";
    QTest::newRow("height") << "ApplicationWindow/height" << "555";
}

void tst_SettingsKeys::valuesLandUnderTheirKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QCOMPARE(QSettings(m_file, QSettings::IniFormat).value(key).toString(), expected);
}

GELV_GUI_TEST_MAIN(tst_SettingsKeys)

#include "tst_settingskeys.moc"
