// The whole interface with a printer stand-in, as a user goes through it: settings
// seeded, a material opened from the command line, connect, install, see it listed on
// the printer, delete it. Clicks go through the real window under Xvfb; a review
// screenshot of each step goes to the test-output folder.
#include "guitest.h"
#include "printerstandinprocess.h"
#include "startup.h"
#include "windowimage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QSettings>

#include <memory>

namespace {

const QString PrinterAddress = QStringLiteral("127.0.0.110");
const QString PrinterName = QStringLiteral("Tour Printer");
const QString GroupKey = QStringLiteral("0123456789abcdef0123456789ABCDEF");

// Every item below root in the visual tree (list delegates have no object parent there).
QList<QQuickItem*> itemsBelow(QQuickItem* root)
{
    QList<QQuickItem*> items;
    if (!root)
        return items;
    for (QQuickItem* child : root->childItems())
        items << child << itemsBelow(child);
    return items;
}

// The first visible item that has the property (with the value, when one is given).
QQuickItem* findItem(QQuickItem* root, const char* property, const QVariant& value = QVariant())
{
    for (QQuickItem* item : itemsBelow(root)) {
        const QVariant found = item->property(property);
        if (found.isValid() && item->isVisible() && (value.isNull() || found == value))
            return item;
    }
    return nullptr;
}

// A Home sidebar link.
QQuickItem* findLink(QQuickItem* root, const QString& text)
{
    for (QQuickItem* item : itemsBelow(root)) {
        if (item->property("backgroundColorSelected").isValid() && item->property("text") == text
            && item->isVisible())
            return item;
    }
    return nullptr;
}

QObject* objectProperty(QObject* object, const char* property)
{
    return object ? object->property(property).value<QObject*>() : nullptr;
}

} // namespace

class tst_PrinterTour : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void tour();

private:
    QQuickItem* root() const { return m_window->contentItem(); }
    bool click(QQuickItem* item);
    void scrollIntoView(QQuickItem* item);
    bool clickDialogButton(QObject* dialog, const QString& text);
    bool showSettings();
    void shoot(const QString& name);

    PrinterStandInProcess m_printer;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
};

void tst_PrinterTour::initTestCase()
{
    QVERIFY(GuiTest::setUpApplication());
    QVERIFY(m_printer.start(QStringLiteral(GELV_PRINTER_STANDIN), PrinterAddress,
        { QStringLiteral("--name"), PrinterName, QStringLiteral("--group-key"), GroupKey,
            QStringLiteral("--material"), QStringLiteral("Grey Resin") }));
}

bool tst_PrinterTour::click(QQuickItem* item)
{
    if (!item)
        return false;
    scrollIntoView(item);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

// As a user scrolls a page: the nearest scrolling flickable shows the item.
void tst_PrinterTour::scrollIntoView(QQuickItem* item)
{
    QQuickItem* flickable = item->parentItem();
    while (
        flickable && !(flickable->inherits("QQuickFlickable") && flickable->property("interactive").toBool()))
        flickable = flickable->parentItem();
    if (!flickable)
        return;
    auto* content = flickable->property("contentItem").value<QQuickItem*>();
    const qreal top = item->mapToItem(content, QPointF(0, 0)).y();
    const qreal maximum = qMax<qreal>(0, flickable->property("contentHeight").toReal() - flickable->height());
    if (top < flickable->property("contentY").toReal()
        || top + item->height() > flickable->property("contentY").toReal() + flickable->height())
        flickable->setProperty("contentY", qBound<qreal>(0, top - 50, maximum));
    QTest::qWait(50);
}

bool tst_PrinterTour::clickDialogButton(QObject* dialog, const QString& text)
{
    auto* content = qobject_cast<QQuickItem*>(objectProperty(dialog, "contentItem"));
    return click(findItem(content, "text", text));
}

// Home, then its Settings link.
bool tst_PrinterTour::showSettings()
{
    if (!click(findItem(root(), "toolTipText", QStringLiteral("Home"))))
        return false;
    QQuickItem* link = nullptr;
    if (!QTest::qWaitFor([&] { return (link = findLink(root(), QStringLiteral("Settings"))); }))
        return false;
    return click(link)
        && QTest::qWaitFor([this] { return findItem(root(), "connectDisconnectButton") != nullptr; });
}

void tst_PrinterTour::shoot(const QString& name)
{
    QDir().mkpath(QStringLiteral(GELV_TEST_OUTPUT_DIR));
    QVERIFY2(saveWindowImage(m_window, QStringLiteral(GELV_TEST_OUTPUT_DIR "/") + name), qPrintable(name));
}

void tst_PrinterTour::tour()
{
    // 1. Settings as a user left them: the group key, the printer's address, a window that shows the page.
    const QString document = QDir::temp().filePath(QStringLiteral("Tour material.zqmat"));
    QVERIFY(QFile::copy(QStringLiteral(GELV_TEST_DATA_DIR "/workspace/full.zqmat"), document));
    {
        QSettings settings;
        settings.setValue(QStringLiteral("User/groupKey"), GroupKey);
        settings.setValue(QStringLiteral("PrinterIP/printerIP"), PrinterAddress);
        settings.setValue(QStringLiteral("ApplicationWindow/width"), 1500);
        settings.setValue(QStringLiteral("ApplicationWindow/height"), 960);
    }

    // 2. Started with the document, as main starts the application.
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->rootContext()->setContextProperty(
        QStringLiteral("openFilePath"), Startup::openFilePath({ QStringLiteral("gelvantrium"), document }));
    m_engine->load(Startup::rootQmlUrl());
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    QVERIFY(m_window);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->property("initialLoadDone").toBool(), 30000);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QQuickItem* header = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((header = findItem(root(), "installButton")), 10000);
    shoot(QStringLiteral("printer_tour_1_opened.png"));

    // 3. Connect from Settings.
    QVERIFY(showSettings());
    QQuickItem* printer = findItem(root(), "connectDisconnectButton");
    auto* button = qobject_cast<QQuickItem*>(objectProperty(printer, "connectDisconnectButton"));
    QCOMPARE(
        objectProperty(printer, "homeSectionSettingsPrinterIP")->property("text").toString(), PrinterAddress);
    QVERIFY(click(button));
    QTRY_COMPARE_WITH_TIMEOUT(button->property("text").toString(), QStringLiteral("Disconnect"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(objectProperty(printer, "currentConnectionLabel")->property("text").toString(),
        QStringLiteral("Functional Connected IP = 127.0.0.110\nPrinter Name = Tour Printer"), 5000);
    shoot(QStringLiteral("printer_tour_2_connected.png"));

    // 4. Back to the document through the recent list, install it, see it listed.
    QVERIFY(click(findLink(root(), QStringLiteral("Materials"))));
    QQuickItem* recent = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT(
        (recent = findItem(root(), "fileName", QStringLiteral("Tour material.zqmat"))), 5000);
    QVERIFY(click(recent));
    QTRY_VERIFY_WITH_TIMEOUT((header = findItem(root(), "installButton")), 5000);
    QVERIFY(click(qobject_cast<QQuickItem*>(objectProperty(header, "installButton"))));
    QObject* succeeded = objectProperty(header, "installSucceededDialog");
    QTRY_VERIFY_WITH_TIMEOUT(succeeded->property("opened").toBool(), 5000);
    QCOMPARE(succeeded->property("message").toString(),
        QStringLiteral("Tour Printer (127.0.0.110) can now print using these material settings."));
    shoot(QStringLiteral("printer_tour_3_installed.png"));
    QVERIFY(clickDialogButton(succeeded, QStringLiteral("OK")));
    QTRY_VERIFY(!succeeded->property("visible").toBool());

    QVERIFY(showSettings());
    printer = findItem(root(), "connectDisconnectButton");
    QQuickItem* installed = nullptr;
    QTRY_VERIFY_WITH_TIMEOUT((installed = findItem(root(), "materialName", QStringLiteral("Clear"))), 5000);
    QVERIFY(findItem(root(), "materialName", QStringLiteral("Grey Resin")));
    scrollIntoView(installed);
    shoot(QStringLiteral("printer_tour_4_listed.png"));

    // 5. Delete it after the confirmation.
    QVERIFY(click(qobject_cast<QQuickItem*>(objectProperty(installed, "removeButton"))));
    QObject* confirm = objectProperty(printer, "deleteMaterialDialog");
    QTRY_VERIFY(confirm->property("opened").toBool());
    QCOMPARE(confirm->property("message").toString(),
        QStringLiteral("Are you sure you want to delete Clear from Tour Printer?"));
    shoot(QStringLiteral("printer_tour_5_confirm_delete.png"));
    QVERIFY(clickDialogButton(confirm, QStringLiteral("OK")));
    QTRY_VERIFY_WITH_TIMEOUT(!findItem(root(), "materialName", QStringLiteral("Clear")), 5000);
    QVERIFY(findItem(root(), "materialName", QStringLiteral("Grey Resin")));
    shoot(QStringLiteral("printer_tour_6_deleted.png"));

    // The printer saw one install it could decrypt with the group key and one removal.
    QStringList sets;
    for (const QVariant& line : m_printer.log()) {
        const QVariantMap entry = line.toMap();
        if (entry.value(QStringLiteral("request")) == QLatin1String("set"))
            sets << entry.value(QStringLiteral("key")).toString() + QLatin1Char(' ')
                    + entry.value(QStringLiteral("material")).toString() + QLatin1Char(' ')
                    + entry.value(QStringLiteral("reply")).toString();
    }
    QCOMPARE(sets,
        QStringList({ QStringLiteral("ZqNetValueKey_CustomMaterialXMLString Clear accepted"),
            QStringLiteral("ZqNetValueKey_MLIB_RemoveMaterial Clear accepted") }));
}

GELV_GUI_TEST_MAIN(tst_PrinterTour)

#include "tst_printertour.moc"
