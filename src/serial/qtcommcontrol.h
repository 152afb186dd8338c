#pragma once

#include "commcontrol.h"
#include "deviceaccess.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>

// The serial control over a real device: 115200 baud, 8 data bits, no parity, 1 stop bit, no flow
// control, raw, DTR on and RTS off while open. A device that goes away while open (an adapter
// pulled out, a pseudo-terminal whose master closed) closes the port and is reported once.
class QtCommControl : public CommControl {
    Q_OBJECT
public:
    explicit QtCommControl(QObject* parent = nullptr);

    QString deviceName() const override;

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray& bytes) override;
    // While a frame is due, the port rests until the line can have carried it, instead of waking
    // the receiver for every piece a UART hands over.
    void dueChanged(int due) override;

private:
    void receive();
    void handleError(QSerialPort::SerialPortError error);
    void checkDevice(const QString& path);
    void firstByteOfRest();
    void endRest();
    void stopResting();
    PortFailure openFailure(const QString& path) const;
    QString targetPath() const;

    QSerialPort m_port;
    QString m_openDevice;
    bool m_flushing = false;
    bool m_closeAfterFlush = false;
    // Running while the port rests: see dueChanged().
    QTimer m_rest;
    QElapsedTimer m_restClock;
    int m_restDue = 0;
    bool m_mayRest = false;
};
