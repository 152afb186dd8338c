#include "fakeloader.h"

#include "blocksize.h"
#include "fakecommcontrol.h"
#include "testfiles.h"

FakeLoader::FakeLoader(FakeCommControl& port, QByteArray image)
    : m_port(port), m_image(std::move(image)) {
    connect(&m_port, &FakeCommControl::written, this, &FakeLoader::onWritten, Qt::QueuedConnection);
    connect(&m_port, &CommControl::closed, this, [this] { m_step = Step::Idle; });
    // A loader already up answers the first break-in byte at once: without waiting for the
    // ticker's first beat, each dialogue takes no longer than its bytes.
    connect(
        &m_port, &FakeCommControl::opened, this, [this] { onWritten("\x1f"); },
        Qt::QueuedConnection);
}

void FakeLoader::onWritten(const QByteArray& bytes) {
    if (!m_port.PortOpen() || m_faults.silent)
        return;
    if (bytes == "\x1f") {
        if (m_faults.goneAtOnce) {
            m_port.vanish(QStringLiteral("the device went away"));
            return;
        }
        if (m_step == Step::Idle) {
            m_step = Step::Announced;
            m_served = 0;
            m_total = 0;
            m_port.push("LOADER\r\nSIM BL_FLASH_END\r\n");
        }
        return;
    }
    if (bytes == "KDATA") {
        m_port.push("REQUEST_VERSION:1.00\r\n");
    } else if (bytes == "ack" && m_step == Step::Announced) {
        m_step = Step::AskedStart;
        m_port.push("REQDATA_START_BLOCK\r\n");
    } else if (m_step == Step::AskedStart) {
        m_step = Step::AskedCount;
        m_port.push("REQDATA_BLOCK\r\n");
    } else if (m_step == Step::AskedCount) {
        m_step = Step::Serving;
        m_port.push("ack\r\n");
    } else if (bytes.startsWith("REQUEST_1024DOWN:")) {
        serve(bytes.mid(17).chopped(1).toInt());
    } else if (bytes.startsWith("1024DOWN_SUCCESS:") && m_served == m_faults.vanishAfter) {
        m_port.vanish(QStringLiteral("the device went away"));
    } else if (bytes.startsWith("1024DOWN_SUCCESS:") && m_served == m_faults.stallAfter) {
        m_faults.silent = true;
    } else if (bytes == "REQUEST_TOTALCRC\r") {
        m_port.push(QByteArray(1, char(m_total + (m_faults.wrongTotal ? 1 : 0))));
    }
}

void FakeLoader::serve(int block) {
    m_requested.append(block);
    ++m_served;
    QByteArray data = m_image.mid(qsizetype(block) * BlockSize, BlockSize);
    if (m_faults.otherFlash)
        for (char& byte : data)
            byte = char(byte ^ 0x5a);
    const quint8 sum = byteSum(data);
    m_total = quint8(m_total + sum);
    if (m_faults.corrupt.contains(m_served))
        data[512] = char(~data.at(512));
    m_port.push(loaderFrame(data, quint8(sum + (m_served == m_faults.badSum ? 1 : 0))));
}
