#include "loadersimprocess.h"

#include "testfiles.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

LoaderSimProcess::LoaderSimProcess() = default;

LoaderSimProcess::~LoaderSimProcess() {
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString LoaderSimProcess::program() {
    const QString fromEnvironment = qEnvironmentVariable("LOADER_SIM");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    const QString beside = QCoreApplication::applicationDirPath() + "/../bin/loader-sim";
    return QFileInfo::exists(beside) ? QFileInfo(beside).canonicalFilePath() : QString();
}

QString LoaderSimProcess::samplesFolder() {
    return QFileInfo(program()).absolutePath() + QStringLiteral("/Respuestas");
}

QByteArray LoaderSimProcess::sampleResponse(int n) {
    return readFile(samplesFolder() + QStringLiteral("/Respuesta%1.TXT").arg(n));
}

QByteArray LoaderSimProcess::imageForSeed(quint64 seed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("image.bin");
    QProcess process;
    process.start(program(), {"--seed", QString::number(seed), "--write-image", path, "--no-pty"});
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return {};
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool LoaderSimProcess::start(const QStringList& arguments, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    m_process.setStandardErrorFile(scratchPath("loader-sim.log"));
    m_process.start(program(), arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        return false;
    }
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
            return false;
        }
    }
    m_devicePath = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    return !m_devicePath.isEmpty();
}

QString LoaderSimProcess::scratchPath(const QString& name) const {
    return m_scratch.filePath(name);
}

QByteArray LoaderSimProcess::log() const {
    QFile file(scratchPath("loader-sim.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int LoaderSimProcess::waitForExit(int timeoutMs) {
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(timeoutMs)) {
        return -1;
    }
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

void LoaderSimProcess::terminate() {
    m_process.terminate();
}
