#include <QtTest>
class tst_ZqFileCopier : public QObject { Q_OBJECT };
QTEST_GUILESS_MAIN(tst_ZqFileCopier)
#include "tst_zqfilecopier.moc"
