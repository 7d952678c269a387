#ifndef GELV_WINDOWIMAGE_H
#define GELV_WINDOWIMAGE_H

// How review screenshots are taken, by this tool and by the interface tests that keep
// one of each step: what the window shows once a fresh frame is on screen.
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

inline bool saveWindowImage(QQuickWindow* window, const QString& path)
{
    QSignalSpy frames(window, &QQuickWindow::frameSwapped);
    window->update();
    frames.wait(5000);
    QTest::qWait(500); // web content composites asynchronously
    return window->grabWindow().save(path);
}

#endif
