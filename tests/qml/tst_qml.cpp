#include "guitest.h"
#include "httpsstandin.h"
#include "printerstandinprocess.h"
#include "utilities.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QQmlContext>
#include <QQmlEngine>
#include <QSaveFile>
#include <QSettings>
#include <QTranslator>
#include <QtQuickTest>

#include <map>
#include <memory>

// Translates one text of one context, as a loaded translation file would.
class OneTextTranslator : public QTranslator {
public:
    OneTextTranslator(
        const QString& context, const QString& source, const QString& translation, QObject* parent)
        : QTranslator(parent)
        , m_context(context)
        , m_source(source)
        , m_translation(translation)
    {
    }
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return QLatin1String(context) == m_context && QString::fromUtf8(source) == m_source ? m_translation
                                                                                            : QString();
    }

private:
    QString m_context, m_source, m_translation;
};

// Lets QML tests do what only the application's C++ side can: set the context
// properties main sets, read or prepare the stored settings as they are on disk, and
// run printer stand-ins.
class QmlTestSupport : public QObject {
    Q_OBJECT
public:
    explicit QmlTestSupport(QQmlEngine* engine)
        : QObject(engine)
        , m_engine(engine)
    {
    }

    Q_INVOKABLE void setRootContextProperty(const QString& name, const QVariant& value)
    {
        m_engine->rootContext()->setContextProperty(name, value);
    }

    // "Category/key" as the QML settings store it.
    Q_INVOKABLE QVariant storedSetting(const QString& key) const { return QSettings().value(key); }

    // Removes the key when value is undefined.
    Q_INVOKABLE void setStoredSetting(const QString& key, const QVariant& value)
    {
        QSettings settings;
        value.isValid() ? settings.setValue(key, value) : settings.remove(key);
    }

    // The test's own temporary folder (isolated per test run), without a trailing slash.
    Q_INVOKABLE QString tempPath() const { return QDir::tempPath(); }

    Q_INVOKABLE bool writeTextFile(const QString& path, const QString& text)
    {
        QSaveFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0 && file.commit();
    }

    // The settings file the interface writes, one character per byte; null when absent.
    Q_INVOKABLE QString settingsFileText() const
    {
        QFile file(QSettings().fileName());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        const QByteArray bytes = file.readAll();
        return QString::fromLatin1(bytes.constData(), bytes.size()); // all of it, NUL bytes included
    }

    // Installs a translation of one text ("" context removes it) and re-evaluates every qsTr().
    Q_INVOKABLE void setTranslation(const QString& context, const QString& source, const QString& translation)
    {
        delete m_translator; // a translator removes itself from the application
        m_translator = nullptr;
        if (!context.isEmpty()) {
            m_translator = new OneTextTranslator(context, source, translation, this);
            QCoreApplication::installTranslator(m_translator);
        }
        m_engine->retranslate();
    }

    // The folder and the file name the open file dialog shows ({} when none is open).
    Q_INVOKABLE QVariantMap shownFileDialog() const
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (!dialog || !dialog->isVisible())
                continue;
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            return { { QStringLiteral("folder"), dialog->directory().absolutePath() },
                { QStringLiteral("name"), name ? name->text() : QString() } };
        }
        return {};
    }

    // A printer stand-in on a loopback address, replacing any there; its options as
    // on its command line ("--mode", "deny", ...). False when it does not listen.
    Q_INVOKABLE bool startPrinter(const QString& address, const QStringList& options)
    {
        return start(QStringLiteral(GELV_PRINTER_STANDIN), address, options);
    }

    // The same with the printer that floods its client (tests/floodprinter.cpp).
    Q_INVOKABLE bool startFloodPrinter(const QString& address, const QStringList& options)
    {
        return start(QStringLiteral(GELV_FLOOD_PRINTER), address, options);
    }

    // The same on a free loopback address of its own: that address, or "" when it does not listen.
    Q_INVOKABLE QString launchPrinter(const QStringList& options)
    {
        return launch(QStringLiteral(GELV_PRINTER_STANDIN), options);
    }
    Q_INVOKABLE QString launchFloodPrinter(const QStringList& options)
    {
        return launch(QStringLiteral(GELV_FLOOD_PRINTER), options);
    }

    // A loopback address on which no printer listens.
    Q_INVOKABLE QString freeAddress() const { return freeLoopbackAddress(); }

    Q_INVOKABLE void stopPrinter(const QString& address) { m_printers.erase(address); }

    // The printer's log lines, each an object ({"request": "set", "key": ..., "reply": ...}).
    Q_INVOKABLE QVariantList printerLog(const QString& address)
    {
        const auto found = m_printers.find(address);
        return found == m_printers.end() ? QVariantList() : found->second->log();
    }

    // Points support requests at a local service desk that takes every request and
    // never answers, and gives up on them after timeoutMs instead of 30 s.
    Q_INVOKABLE bool startSilentServiceDesk(int timeoutMs)
    {
        m_serviceDesk = std::make_unique<HttpsStandIn>();
        if (!m_serviceDesk->start())
            return false;
        m_serviceDesk->trustInProcess();
        HttpsStandIn::Answer silence;
        silence.trick = HttpsStandIn::NeverAnswer;
        m_serviceDesk->setAnswer("/rest/servicedeskapi/request", silence);
        Utilities::serviceDeskUrl = m_serviceDesk->url().toString(QUrl::StripTrailingSlash);
        Utilities::serviceDeskCredential = "agent@veltrisan.invalid:t0ken-For-Tests";
        Utilities::supportRequestTimeoutMs = timeoutMs;
        return true;
    }

private:
    bool start(const QString& program, const QString& address, const QStringList& options)
    {
        std::unique_ptr<PrinterStandInProcess>& printer = m_printers[address];
        printer = std::make_unique<PrinterStandInProcess>();
        return printer->start(program, address, options);
    }

    QString launch(const QString& program, const QStringList& options)
    {
        auto printer = std::make_unique<PrinterStandInProcess>();
        if (!printer->start(program, options))
            return QString();
        const QString address = printer->address();
        m_printers[address] = std::move(printer);
        return address;
    }

    QQmlEngine* m_engine;
    QTranslator* m_translator = nullptr;
    std::map<QString, std::unique_ptr<PrinterStandInProcess>> m_printers;
    std::unique_ptr<HttpsStandIn> m_serviceDesk;
};

class Setup : public QObject {
    Q_OBJECT
public slots:
    void applicationAvailable() { GuiTest::setUpApplication(); }

    void qmlEngineAvailable(QQmlEngine* engine)
    {
        engine->rootContext()->setContextProperty(QStringLiteral("testSupport"), new QmlTestSupport(engine));
    }
};

int main(int argc, char* argv[])
{
    // The web engine must be initialised before the application object exists.
    QtWebEngine::initialize();
    // A QApplication, as in the program: the platform file dialogs are the widget ones there.
    QApplication app(argc, argv);
    Setup setup;
    QTEST_SET_MAIN_SOURCE_PATH
    return quick_test_main_with_setup(argc, argv, "qml", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "tst_qml.moc"
