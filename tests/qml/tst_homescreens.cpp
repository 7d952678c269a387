// The Home screen in a real window under Xvfb: one screenshot of each section and of
// an offered update (kept in the build's test-output folder as artifacts). Links are
// clicked as a user would; nothing here reaches the network.
#include "guitest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

class TestHomeScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void section_data();
    void section();
    void offeredUpdate();
    void cleanupTestCase();

private:
    QQuickItem *findItem(const char *property, const QVariant &text = QVariant()) const;
    void saveScreenshot(const QString &name, bool dialogOpen = false);

    QTemporaryDir m_files;
    QQmlEngine *m_engine = nullptr;
    std::unique_ptr<QObject> m_root;
    QQuickWindow *m_window = nullptr;
};

// The first item of the window with the property (and, when given, that "text").
QQuickItem *TestHomeScreens::findItem(const char *property, const QVariant &text) const
{
    for (QQuickItem *item : m_window->findChildren<QQuickItem *>()) {
        if (item->property(property).isValid() && (text.isNull() || item->property("text") == text))
            return item;
    }
    return nullptr;
}

void TestHomeScreens::saveScreenshot(const QString &name, bool dialogOpen)
{
    const QImage image = GuiTest::saveScreenshot(m_window, name);
    QVERIFY2(!image.isNull(), qPrintable(name));
    // The sidebar is drawn at the left whatever section shows; a modal dialog dims it.
    if (!dialogOpen)
        QCOMPARE(image.pixelColor(5, image.height() / 2), QColor(QStringLiteral("#424241")));
}

void TestHomeScreens::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());

    // Two recent materials, a profile and a valid distribution password, so that
    // every section shows content.
    QVERIFY(m_files.isValid());
    QJsonArray recent;
    const QStringList names = {QStringLiteral("Clear Resin.zqmat"), QStringLiteral("Tough Grey.zqmat")};
    for (int i = 0; i < names.size(); ++i) {
        const QString path = m_files.filePath(names.at(i));
        QVERIFY(QFile::copy(QStringLiteral(GELV_TEST_DATA_DIR "/workspace/full.zqmat"), path));
        recent.append(QJsonObject{{QStringLiteral("fileName"), names.at(i)},
                                  {QStringLiteral("path"), QStringLiteral("file:///") + path},
                                  {QStringLiteral("printerModel"), QStringLiteral("Orvo A")},
                                  {QStringLiteral("lastUpdatedDate"), QStringLiteral("Monday, March 2, 2026 10:1%1:00 AM").arg(i)},
                                  {QStringLiteral("friendlyColor"), i ? QStringLiteral("#6c6767") : QStringLiteral("#e6f2ff")}});
    }
    QSettings settings;
    settings.setValue(QStringLiteral("Document/datastore"),
                      QString::fromUtf8(QJsonDocument(recent).toJson(QJsonDocument::Compact)));
    settings.setValue(QStringLiteral("User/nameFirst"), QStringLiteral("Ada"));
    settings.setValue(QStringLiteral("User/nameLast"), QStringLiteral("Lovelace"));
    settings.setValue(QStringLiteral("User/email"), QStringLiteral("ada@example.invalid"));
    settings.setValue(QStringLiteral("User/company"), QStringLiteral("Veltrisan Labs"));
    settings.setValue(QStringLiteral("distributionPassword/password"), QStringLiteral("Abcdef1!"));
    settings.sync();

    m_engine = new QQmlEngine(this);
    QQmlComponent component(m_engine);
    component.setData("import QtQuick 2.15\n"
                      "import QtQuick.Controls 2.15\n"
                      "import \"components/screen\"\n"
                      "ApplicationWindow {\n"
                      "    width: 1280; height: 720; visible: true; title: \"Home sections\"\n"
                      "    ScreenHome { anchors.fill: parent }\n"
                      "}\n",
                      QUrl(QStringLiteral("qrc:/homescreens.qml")));
    m_root.reset(component.create());
    QVERIFY2(m_root, qPrintable(component.errorString()));
    m_window = qobject_cast<QQuickWindow *>(m_root.get());
    QVERIFY(m_window && QTest::qWaitForWindowExposed(m_window));
}

void TestHomeScreens::section_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("file");
    QTest::newRow("getting started") << QStringLiteral("Getting Started") << QStringLiteral("home_getting_started.png");
    QTest::newRow("settings") << QStringLiteral("Settings") << QStringLiteral("home_settings.png");
    QTest::newRow("support") << QStringLiteral("Support") << QStringLiteral("home_support.png");
    QTest::newRow("materials") << QStringLiteral("Materials") << QStringLiteral("home_materials.png");
}

void TestHomeScreens::section()
{
    QFETCH(QString, link);
    QFETCH(QString, file);
    QQuickItem *navOption = findItem("backgroundColorSelected", link);
    QVERIFY2(navOption, qPrintable(link));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier,
                      navOption->mapToScene(QPointF(navOption->width() / 2, navOption->height() / 2)).toPoint());
    QTRY_VERIFY(navOption->property("selected").toBool());
    if (link == QLatin1String("Getting Started")) {
        QQuickItem *view = findItem("loadProgress");
        QVERIFY(view);
        QTRY_COMPARE_WITH_TIMEOUT(view->property("loadProgress").toInt(), 100, 30000);
        QTRY_VERIFY(!view->property("loading").toBool());
    }
    if (link == QLatin1String("Materials")) {
        QQuickItem *list = findItem("recentList");
        QVERIFY(list);
        QTRY_COMPARE(list->property("recentList").value<QObject *>()->property("count").toInt(), 2);
    }
    saveScreenshot(file);
}

void TestHomeScreens::offeredUpdate()
{
    QQuickItem *sidebar = findItem("updateHelper");
    QVERIFY(sidebar);
    QQmlComponent standIn(m_engine, QUrl::fromLocalFile(QStringLiteral(GELV_TEST_DATA_DIR "/../UpdateHelperStandIn.qml")));
    std::unique_ptr<QObject> helper(standIn.create());
    QVERIFY2(helper, qPrintable(standIn.errorString()));
    helper->setProperty("releaseNotes", QStringLiteral("Faster material loading.\nClearer messages when a printer cannot be reached."));
    QVERIFY(sidebar->setProperty("updateHelper", QVariant::fromValue(helper.get())));

    QVERIFY(QMetaObject::invokeMethod(sidebar, "returnCheckForUpdateResponse", Q_ARG(QVariant, true)));
    auto *dialog = sidebar->property("applicationUpdateNotificationDialog").value<QObject *>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("visible").toBool());
    saveScreenshot(QStringLiteral("home_update_dialog.png"), true);

    QVERIFY(QMetaObject::invokeMethod(dialog, "close"));
    QTRY_VERIFY(!dialog->property("visible").toBool());
    QVERIFY(QMetaObject::invokeMethod(sidebar, "returnDownloadProgressUpdate", Q_ARG(QVariant, 40000000),
                                      Q_ARG(QVariant, 100000000), Q_ARG(QVariant, QStringLiteral("38 MB")),
                                      Q_ARG(QVariant, QStringLiteral("95 MB")),
                                      Q_ARG(QVariant, QStringLiteral("About 1 minutes"))));
    saveScreenshot(QStringLiteral("home_update_downloading.png"));
    sidebar->setProperty("updateHelper", QVariant::fromValue<QObject *>(nullptr));
}

void TestHomeScreens::cleanupTestCase()
{
    m_root.reset();
    delete m_engine;
    m_engine = nullptr;
}

GELV_GUI_TEST_MAIN(TestHomeScreens)

#include "tst_homescreens.moc"
