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
        int block = 0;   // the block number the tool asked for
        int sum = 0;     // of the data the tool took, modulo 256
        int sumByte = 0; // the byte it took as the frame's sum
    };

    QByteArray records;    // what the tool writes, record after record
    QList<BadSum> badSums; // in the order the frames came
    bool totalReceived = false;
    int loaderTotal = 0;   // the byte the tool took as the loader's total
    int computedTotal = 0; // the sum of the records, modulo 256

    // The tool asks for `count` blocks from `firstBlock`, all inside the image (loader-sim's
    // erased blocks beyond it are not modelled); loader-sim runs with `simArguments`
    // (--fault-bad-sum K, --fault-corrupt K, --fault-surplus K, --fault-short K,
    // --fault-vanish K, --fault-wrong-total; K counts the blocks of the transfer from 1).
    static ExpectedReception of(const QByteArray& image, int firstBlock, int count,
                                const QStringList& simArguments);
};
