#include "fakecommcontrol.h"

FakeCommControl::FakeCommControl(QObject* parent) : CommControl(parent) {}

QString FakeCommControl::deviceName() const {
    return devicePath().isEmpty() ? QStringLiteral("fake:COM%1").arg(CommPort()) : devicePath();
}

void FakeCommControl::writeDevice(const QByteArray& bytes) {
    if (m_writesUntilFailure > 0 && --m_writesUntilFailure == 0) {
        lose(QStringLiteral("writing to the device failed"));
        return;
    }
    m_writes.append(bytes);
    Q_EMIT written(bytes);
}

void FakeCommControl::openDevice() {
    if (!m_openFailure.isEmpty()) {
        const QString why = m_openFailure;
        m_openFailure.clear();
        throw PortOpenError(why.toStdString());
    }
    ++m_opens;
    Q_EMIT opened();
}
