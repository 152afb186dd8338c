#pragma once

#include "commcontrol.h"

#include <QByteArrayList>

// In-memory port for unit tests: push() plays bytes arriving from the line, sent() returns
// everything written so far, writes() each write on its own.
class FakeCommControl : public CommControl {
    Q_OBJECT
public:
    explicit FakeCommControl(QObject* parent = nullptr);

    QString deviceName() const override;

    void push(const QByteArray& bytes) { deliver(bytes); }
    void vanish(const QString& description) { lose(description); }

    QByteArray sent() const { return m_writes.join(); }
    const QByteArrayList& writes() const { return m_writes; }
    void clearSent() { m_writes.clear(); }

    // The next opening fails with this description; empty makes openings succeed again.
    void failNextOpen(const QString& description) { m_openFailure = description; }
    int openCount() const { return m_opens; }
    // The n-th write from now (1 = the next one) fails as a device that went away does; the
    // bytes of that write are lost. 0 lets every write through.
    void failWrite(int n) { m_writesUntilFailure = n; }

Q_SIGNALS:
    // The port has opened, and each write as it leaves: for a peer played in the test.
    void opened();
    void written(const QByteArray& bytes);

protected:
    void openDevice() override;
    void closeDevice() override {}
    void writeDevice(const QByteArray& bytes) override;

private:
    QByteArrayList m_writes;
    QString m_openFailure;
    int m_opens = 0;
    int m_writesUntilFailure = 0;
};
