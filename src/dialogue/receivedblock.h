#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// A block as it arrived in its frame, and where it went.
struct ReceivedBlock {
    int index = 0;    // 1 to count, within the transfer
    int count = 0;    // blocks the transfer asks for
    qint32 block = 0; // its number on the flash
    QByteArray data;
    quint8 sum = 0;            // of its data, modulo 256
    quint8 sumByte = 0;        // what its frame carried
    std::optional<int> record; // the record of the dump file it now stands in; none: not written
    bool differs = false;      // a comparison: it differs from its record
    bool uncompared = false;   // a comparison: it could not be compared with its record

    bool sumOk() const { return sum == sumByte; }
};
