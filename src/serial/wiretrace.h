#pragma once

#include <QByteArrayView>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

// A timestamped record of every byte on the line, one event a line:
//
//   # decodump wire trace 1
//   0 > 1f
//   503112 < 4c4f414445522d53494d...
//
// microseconds since the port was armed, the direction ('>' from the tool to the loader, '<'
// from the loader to the tool) and the bytes in lowercase hex. Lines starting with '#' are
// comments; the first one names the format. Each event is written out at once, so the trace of
// a run that crashed is complete up to its last event. loader-sim --replay plays such a trace.
class WireTrace {
public:
    static constexpr int Format = 1;
    enum class Direction { ToLoader, FromLoader };

    ~WireTrace();

    // Creates (or empties) the file and writes the header. False, with error(), when it cannot.
    // A link at the path is replaced, never followed; a pipe or a device is refused at once.
    bool open(const QString& path);
    // Flushes the trace to the disk and closes it; a failure shows in error().
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    // Time zero: the port was first armed; a later arming (another dialogue of the same run)
    // keeps the clock going. An event recorded before start() starts the clock.
    void start();
    // One event; nothing for no bytes. After a failed write the trace records nothing more.
    void record(Direction direction, QByteArrayView bytes);

    // The first failure, naming the file; empty while all went well.
    QString error() const { return m_error; }

private:
    static QByteArray eventLine(qint64 microseconds, Direction direction, QByteArrayView bytes);
    bool writeLine(const QByteArray& line);

    QFile m_file;
    QString m_path;
    QElapsedTimer m_clock;
    QString m_error;
};
