#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

class FakeCommControl;

// The loader's side of the dialogue in process, over the fake port, as loader-sim plays it on a
// pseudo-terminal: announces itself once the port is open, asks for the version, the first block
// and the count, starts the download, serves each block's frame from a flash image and then the
// total. It answers from the event loop, as a line would. Faults count the blocks of one
// transfer from 1, as loader-sim's do.
class FakeLoader : public QObject {
    Q_OBJECT
public:
    struct Faults {
        QList<int> corrupt;  // data altered under the sum of the true data
        int badSum = 0;      // a wrong sum byte under the true data
        int vanishAfter = 0; // the device goes once this block has been acknowledged
        bool wrongTotal = false;
        bool otherFlash = false; // another decoder: every byte differs, sums and total agree
        bool goneAtOnce = false; // the device goes at the first break-in, before the loader speaks
        int stallAfter = 0;      // the loader falls silent once this block has been acknowledged
        bool silent = false;     // the loader never answers (decoder off, wrong port)
    };

    FakeLoader(FakeCommControl& port, QByteArray image);

    void setFaults(const Faults& faults) { m_faults = faults; }
    // Every block asked for so far, in order.
    const QList<int>& requested() const { return m_requested; }

private:
    void onWritten(const QByteArray& bytes);
    void serve(int block);

    FakeCommControl& m_port;
    QByteArray m_image;
    Faults m_faults;
    enum class Step { Idle, Announced, AskedStart, AskedCount, Serving } m_step = Step::Idle;
    int m_served = 0;
    quint8 m_total = 0;
    QList<int> m_requested;
};
