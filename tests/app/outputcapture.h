#pragma once

#include <QByteArray>
#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Sends one standard stream (1 or 2) to a temporary file until taken back.
class OutputCapture
{
public:
    explicit OutputCapture(int fd)
        : m_fd(fd)
    {
        m_file.open();
        std::fflush(stdout);
        std::fflush(stderr);
        m_saved = ::dup(m_fd);
        ::dup2(m_file.handle(), m_fd);
    }
    ~OutputCapture() { restore(); }

    QByteArray take()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
    }

    int m_fd;
    int m_saved = -1;
    QTemporaryFile m_file;
};
