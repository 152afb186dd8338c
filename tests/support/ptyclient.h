#pragma once

#include <QByteArray>
#include <QString>

// The tool's end of a pseudo-terminal, for tests that play the tool by hand: the device in
// raw mode, and reads that give up after a time limit instead of blocking.
class PtyClient {
public:
    PtyClient() = default;
    ~PtyClient();
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool open(const QString& device);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    bool send(const QByteArray& bytes);
    // Everything sent since the client was made.
    const QByteArray& sentBytes() const { return m_sent; }
    // Exactly `count` bytes, or fewer when the time ran out or the other end hung up.
    QByteArray read(qsizetype count, int timeoutMs);
    // The bytes up to and including the next LF, or what came before the time ran out.
    QByteArray readLine(int timeoutMs);
    // Everything that arrives within the time; empty proves silence.
    QByteArray readFor(int ms);
    // True once the other end has gone away (hangup), within the time.
    bool waitForHangUp(int timeoutMs);

private:
    // Waits for something to read; false when the time ran out or the other end hung up.
    bool waitReadable(int timeoutMs);

    int m_fd = -1;
    bool m_hungUp = false;
    QByteArray m_sent;
};
