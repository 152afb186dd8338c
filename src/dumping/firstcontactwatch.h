#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

// Watches the line while the port waits for the loader, so that each front end can tell the
// operator, once each, that nothing has come yet or that what comes is not the loader's text
// (another device, or another line speed garbles it). Advice only: the wait goes on.
class FirstContactWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int SilenceMs = 5000;
    // A loader line is far shorter; this much without LF is not one.
    static constexpr int LongestLine = 2048;
    // Bytes to see before judging whether they are mostly text.
    static constexpr int Sample = 64;

    explicit FirstContactWatch(QObject* parent = nullptr);

    // The port is armed: the silence clock starts.
    void start();
    // The transfer has started or the port has closed: nothing more to say.
    void stop();
    void received(const QByteArray& bytes);

Q_SIGNALS:
    void nothingYet();
    void notLoaderText();

private:
    QTimer m_silence;
    bool m_watching = false;
    bool m_toldNotText = false;
    qint64 m_sinceLineEnd = 0;
    qint64 m_textBytes = 0;
    qint64 m_otherBytes = 0;
};
