#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Runs loader-sim for a test: starts it, learns the device it serves from its first line of
// output, and stops it when the test is done with it. Its log goes to a file in a scratch
// folder, so a test that does not run the event loop never blocks it on a full pipe.
class LoaderSimProcess {
public:
    LoaderSimProcess();
    ~LoaderSimProcess();
    LoaderSimProcess(const LoaderSimProcess&) = delete;
    LoaderSimProcess& operator=(const LoaderSimProcess&) = delete;

    // $LOADER_SIM, else loader-sim in the bin folder beside the tests' folder; empty when
    // neither exists.
    static QString program();
    // The sample response files' folder beside loader-sim (Respuestas).
    static QString samplesFolder();
    // A sample response file of that folder (Respuesta<n>.TXT).
    static QByteArray sampleResponse(int n);
    // The flash image that loader-sim serves for a seed; empty when it could not be made.
    static QByteArray imageForSeed(quint64 seed);

    // Starts loader-sim and waits for the device path; false when it did not come in time.
    bool start(const QStringList& arguments, int timeoutMs = 5000);
    QString devicePath() const { return m_devicePath; }
    // A path in a scratch folder that lives as long as this object (for --record, --link...).
    QString scratchPath(const QString& name) const;
    // Everything loader-sim has logged so far.
    QByteArray log() const;

    // Waits for loader-sim to end; its exit code, or -1 when it is still running after the
    // time or died from a signal it did not handle.
    int waitForExit(int timeoutMs = 10000);
    // SIGTERM, as an operator's Ctrl-C would; loader-sim cleans up and exits.
    void terminate();

private:
    QTemporaryDir m_scratch;
    QProcess m_process;
    QString m_devicePath;
};
