#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

// What the tool makes of a transfer that loader-sim serves, worked out from the flash image:
// the bytes loader-sim sends for each fault its options name, taken as loader-sim's receiver
// model says the tool takes them. Frames are told apart by count alone, so a surplus byte
// shifts every later frame and, after the last one, stands in for the total.
struct ExpectedReception {
    struct BadSum {
        int block = 0;      // the block number the tool asked for
        quint8 sum = 0;     // of the data the tool took
        quint8 sumByte = 0; // the byte it took as the frame's sum
    };

    QByteArray records;    // what the tool writes, record after record
    QList<BadSum> badSums; // in the order the frames came
    bool totalReceived = false;
    quint8 loaderTotal = 0; // the byte the tool took as the loader's total
    quint8 computedTotal = 0;

    // The tool asks for `count` blocks from `firstBlock`; loader-sim runs with `simArguments`
    // (--fault-bad-sum K, --fault-corrupt K, --fault-surplus K, --fault-short K,
    // --fault-vanish K, --fault-wrong-total; K counts the blocks of the transfer from 1).
    static ExpectedReception of(const QByteArray& image, int firstBlock, int count,
                                const QStringList& simArguments);

    QList<int> badSumBlocks() const;
};
