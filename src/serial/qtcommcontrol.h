#pragma once

#include "commcontrol.h"
#include "deviceaccess.h"

#include <QSerialPort>

// The serial control over a real device: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, raw, DTR on and RTS off while open. A device that goes away while open (an adapter
// pulled out, a pseudo-terminal whose master closed) closes the port and is reported once.
class QtCommControl : public CommControl {
    Q_OBJECT
public:
    explicit QtCommControl(QObject* parent = nullptr);

    QString deviceName() const override;
    // What the driver said to low-latency mode at the last opening.
    LowLatency lowLatency() const { return m_lowLatency; }

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray& bytes) override;

private:
    void receive();
    void handleError(QSerialPort::SerialPortError error);
    void checkDevice(const QString& path);
    PortFailure openFailure(const QString& path) const;
    QString targetPath() const;

    QSerialPort m_port;
    QString m_openDevice;
    LowLatency m_lowLatency = LowLatency::NotSupported;
    bool m_flushing = false;
    bool m_closeAfterFlush = false;
};
