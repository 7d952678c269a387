#include "logger.h"
#include "registertypes.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class tst_RegisterTypes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void typeIsCreatable_data();
    void typeIsCreatable();

private:
    QTemporaryDir m_dir;
};

void tst_RegisterTypes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A Logger made by QML repeats the start-up work; keep its files here.
    Logger::logParentDirectory = m_dir.path();
    registerQmlTypes();
}

void tst_RegisterTypes::typeIsCreatable_data()
{
    QTest::addColumn<QString>("module");
    QTest::addColumn<QString>("type");
    const QString documents = QStringLiteral("com.vtr.MaterialDocumentManagementLib");
    const QString application = QStringLiteral("com.vtr.Gelvantrium");
    for (const char *type : {"BaseMaterialObject", "PelluxMaterialDocument", "Machine", "QualityLevel", "CycleSetting"})
        QTest::newRow(type) << documents << QString::fromLatin1(type);
    for (const char *type : {"Utilities", "Logger"})
        QTest::newRow(type) << application << QString::fromLatin1(type);
}

void tst_RegisterTypes::typeIsCreatable()
{
    QFETCH(QString, module);
    QFETCH(QString, type);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(QStringLiteral("import %1 1.0\n%2 {}\n").arg(module, type).toUtf8(), QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(QString::fromLatin1(object->metaObject()->className()), type);
}

QTEST_GUILESS_MAIN(tst_RegisterTypes)
#include "tst_registertypes.moc"
