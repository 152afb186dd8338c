#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// One input of the dispatcher fuzz target, decoded. Layout: a flag byte, the lengths of the
// first-block and block-count texts (0 to 4, as the entry boxes allow), the two texts, a byte
// that chooses how the received bytes are cut into arrivals, a byte that places the close;
// everything after that is received from the loader. A short input takes zeros for what is
// missing.
class DispatcherInput {
public:
    enum Flag : std::uint8_t {
        Ticks = 0x01,           // the break-in ticker ticks after each arrival while it runs
        CloseMidway = 0x02,     // the port closes once the close position has been received
        Vanish = 0x04,          // closes are the device going away, not the operator
        Rearm = 0x08,           // a closed port is opened and armed again, a few times at most
        ArriveInMessage = 0x10, // while a message box is open, the next arrival comes in
        CloseInMessage = 0x20,  // while a message box is open, the port closes
        NoResponses = 0x40,     // the response folder is missing
        BadDumpFolder = 0x80,   // the dump folder is missing and cannot be created
    };

    static constexpr int MaxEntryLength = 4;

    DispatcherInput(const std::uint8_t* data, std::size_t size);

    bool has(Flag flag) const { return (m_flags & flag) != 0; }
    QString startBlock() const { return m_startBlock; }
    QString blockCount() const { return m_blockCount; }
    const QByteArray& received() const { return m_received; }
    // Offset in received() after which the port closes (with CloseMidway).
    qsizetype closeAt() const { return m_closeAt; }

    // Length of the next arrival: 1 up to the limit the input chose, varying between arrivals.
    qsizetype nextArrivalSize();

private:
    std::uint8_t m_flags = 0;
    QString m_startBlock;
    QString m_blockCount;
    QByteArray m_received;
    qsizetype m_closeAt = 0;
    qsizetype m_maxArrival = 1;
    std::uint32_t m_random = 1;
};
