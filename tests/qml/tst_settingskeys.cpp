#include "buildconfig.h"
#include "interfacefont.h"
#include "registertypes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQmlEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>
#include <QtWebEngine>

#include <memory>

#if __has_include("updatehelper.h")
#include "updatehelper.h"
#define GELV_TEST_HAVE_UPDATER
#endif

// Runs the whole interface once, as a first start would, then reads the settings file
// back with QSettings: every category and key name stays what earlier versions stored.
class tst_SettingsKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void storeIsTheOrganisationFile();
    void everyKeyIsStored_data();
    void everyKeyIsStored();
    void noOtherKeyIsStored();
    void valuesLandUnderTheirKeys_data();
    void valuesLandUnderTheirKeys();

private:
    struct Key {
        const char *category;
        const char *key;
        const char *comesWith; // a component that comes with the owner, when it is not built yet
    };
    static const QVector<Key> &keys();
    static bool ownerDeclares(const Key &key);

    QString m_file;
};

const QVector<tst_SettingsKeys::Key> &tst_SettingsKeys::keys()
{
    static const QVector<Key> table = {
        {"ApplicationWindow", "x", nullptr},
        {"ApplicationWindow", "y", nullptr},
        {"ApplicationWindow", "width", nullptr},
        {"ApplicationWindow", "height", nullptr},
        {"User", "nameFirst", nullptr},
        {"User", "nameLast", nullptr},
        {"User", "email", nullptr},
        {"User", "company", nullptr},
        {"User", "groupKey", nullptr},
        {"User", "printerModels", nullptr},
        {"User", "updateAutomaticallyPrompt", nullptr},
        {"Document", "datastore", nullptr},
        {"distributionPassword", "password", nullptr},
        {"Home", "selectedPrinterModelName", nullptr},
        {"PrinterIP", "printerIP", "qrc:/NetworkConnectionMediator.qml"},
        {"PrinterIP", "previousPrintersDropdownList", "qrc:/NetworkConnectionMediator.qml"},
        {"PrinterIP", "wasConnectedOnLastLoad", "qrc:/NetworkConnectionMediator.qml"},
    };
    return table;
}

// Keys whose owning component is not built yet are skipped, not failed.
bool tst_SettingsKeys::ownerDeclares(const Key &key)
{
    if (!key.comesWith)
        return true;
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl(QString::fromLatin1(key.comesWith)));
    return !component.errorString().contains(QLatin1String("No such file"));
}

void tst_SettingsKeys::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Veltrisan"));
    QCoreApplication::setOrganizationDomain(QStringLiteral(GELV_ORGANISATION_DOMAIN));
    QCoreApplication::setApplicationName(QStringLiteral("Gelvantrium"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    registerQmlTypes();
    QVERIFY(installInterfaceFont());
#ifdef GELV_TEST_HAVE_UPDATER
    UpdateHelper::definitionsURL = QStringLiteral("https://127.0.0.1:9/updates.json");
#endif
    m_file = QSettings().fileName();
    QFile::remove(m_file);

    {
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
    // The engine is gone: every settings object has written what it held.
    QVERIFY(QFile::exists(m_file));
}

void tst_SettingsKeys::storeIsTheOrganisationFile()
{
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Veltrisan/Gelvantrium.conf");
    QCOMPARE(QDir::cleanPath(m_file), QDir::cleanPath(expected));
}

void tst_SettingsKeys::everyKeyIsStored_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < keys().size(); ++i)
        QTest::addRow("%s/%s", keys()[i].category, keys()[i].key) << i;
}

void tst_SettingsKeys::everyKeyIsStored()
{
    QFETCH(int, index);
    const Key &key = keys()[index];
    if (!ownerDeclares(key))
        QSKIP("The component that stores this setting is not built yet");
    QSettings settings(m_file, QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(key.category));
    QVERIFY2(settings.contains(QString::fromLatin1(key.key)),
             qPrintable(QStringLiteral("stored keys: ") + settings.childKeys().join(QLatin1Char(' '))));
}

void tst_SettingsKeys::noOtherKeyIsStored()
{
    QSettings settings(m_file, QSettings::IniFormat);
    QStringList known;
    for (const Key &key : keys())
        known << QString::fromLatin1(key.category) + QLatin1Char('/') + QString::fromLatin1(key.key);
    for (const QString &stored : settings.allKeys())
        QVERIFY2(known.contains(stored), qPrintable(QStringLiteral("unexpected key ") + stored));
}

void tst_SettingsKeys::valuesLandUnderTheirKeys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first name") << "User/nameFirst" << "Ada";
    QTest::newRow("last name") << "User/nameLast" << "Lovelace";
    QTest::newRow("email") << "User/email" << "ada@example.invalid";
    QTest::newRow("company") << "User/company" << "Analytical";
    QTest::newRow("group key") << "User/groupKey" << "0123456789abcdef0123456789abcdef";
    QTest::newRow("update prompt") << "User/updateAutomaticallyPrompt" << "false";
    QTest::newRow("printer models in order")
        << "User/printerModels" << R"({"ORV_2.0_AA":"Orvo A","ORV_2.0_BB":"Orvo B","ORV_2.0_TT":"Tesk Print"})";
    QTest::newRow("width") << "ApplicationWindow/width" << "777";
    QTest::newRow("height") << "ApplicationWindow/height" << "555";
}

void tst_SettingsKeys::valuesLandUnderTheirKeys()
{
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QSettings settings(m_file, QSettings::IniFormat);
    QCOMPARE(settings.value(key).toString(), expected);
}

int main(int argc, char *argv[])
{
    QtWebEngine::initialize();
    QApplication app(argc, argv);
    tst_SettingsKeys test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingskeys.moc"
