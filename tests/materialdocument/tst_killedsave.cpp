// A process killed at any moment of a save leaves either the old file or the
// new one, never a mix or a cut-off file: a child saves in a loop and is
// killed, a thousand times.
#include "../fulldisk.h"
#include "../testsupport.h"
#include "pelluxmaterialdocument.h"
#include "zqkeyvaluesettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// States of growing size, so that a kill often lands in the middle of a write.
QByteArray stateText(int state) { return QByteArray(state * 24 * 1024 + 10, char('a' + state)); }
constexpr int StateCount = 3;

void save(const QString& kind, const QString& path, int state)
{
    if (kind == QLatin1String("document")) {
        PelluxMaterialDocument document;
        document.setDescription(QString::fromLatin1(stateText(state)));
        document.writeToPath(path);
    } else {
        ZqKeyValueSettings store(path, false);
        store.SetValue(QStringLiteral("state"), stateText(state));
        store.Save();
    }
}

} // namespace

class tst_KilledSave : public QObject {
    Q_OBJECT

private slots:
    void fileIsAlwaysAWrittenState_data()
    {
        columns<QString>("kind");
        QTest::newRow("material document") << "document";
        QTest::newRow("key/value settings") << "settings";
    }
    void fileIsAlwaysAWrittenState()
    {
        QFETCH(QString, kind);
        QTemporaryDir references;
        QList<QByteArray> states;
        for (int state = 0; state < StateCount; ++state) {
            const QString path = references.filePath(QString::number(state));
            save(kind, path, state);
            states << fileBytes(path);
        }
        QTemporaryDir dir;
        // On a tmpfs of its own where it can: a kill stops a save alike there,
        // and no commit waits for a disk.
        FullDisk memory(dir.path());
        const QString path = dir.filePath(QStringLiteral("saved"));
        save(kind, path, 0);
        // Kills are spread over the time that a child takes to start and
        // save once, however fast this build and disk are.
        QElapsedTimer clock;
        clock.start();
        for (int state = 0; state < StateCount; ++state) {
            const pid_t child = fork();
            if (child == 0) {
                save(kind, path, 0);
                _exit(0);
            }
            QCOMPARE(waitpid(child, nullptr, 0), child);
        }
        const int spreadUs = int(qMax<qint64>(clock.nsecsElapsed() / 1000 / StateCount, 1000));
        int changes = 0;
        QByteArray last = states[0];
        for (int round = 0; round < 1000; ++round) {
            const pid_t child = fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                for (int state = round;; ++state)
                    save(kind, path, state % StateCount);
            }
            usleep(QRandomGenerator::global()->bounded(spreadUs));
            ::kill(child, SIGKILL);
            QCOMPARE(waitpid(child, nullptr, 0), child);
            const QByteArray now = fileBytes(path);
            QVERIFY2(states.contains(now),
                qPrintable(
                    QStringLiteral("round %1: %2 bytes, no written state").arg(round).arg(now.size())));
            changes += now != last;
            last = now;
            // The temporary files of killed saves stay behind; they are not the file.
            for (const QString& name : QDir(dir.path()).entryList(QDir::Files))
                if (name != QLatin1String("saved"))
                    QFile::remove(dir.filePath(name));
        }
        // Else the loop proved nothing. Most kills land before a save's commit:
        // each commit waits for the disk.
        QVERIFY2(changes >= 10, qPrintable(QString::number(changes)));
        qInfo("spread %d us, %d changes", spreadUs, changes);
    }
};

QTEST_GUILESS_MAIN(tst_KilledSave)
#include "tst_killedsave.moc"
