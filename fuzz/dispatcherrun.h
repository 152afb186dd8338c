#pragma once

#include "dispatcherinput.h"
#include "fakecommcontrol.h"
#include "fuzzoperator.h"
#include "portsession.h"

#include <QByteArray>
#include <QString>

// One run of the dispatcher fuzz target: a fresh port, operator and dialogue, armed as the
// window arms them, fed the input's received bytes in arrivals, with ticks, closes, vanishes
// and re-arming between them as the input's flags ask. Checks the dialogue's invariants after
// every arrival and what it sent at the end.
class DispatcherRun {
public:
    // The response files every run replays; written once into the responses folder.
    static const QByteArray Response4;
    static const QByteArray Response5;
    static constexpr int MaxArms = 4;

    DispatcherRun(DispatcherInput& input, const QString& responsesFolder,
                  const QString& dumpFolder);

    void run();

private:
    void arm();
    void deliverNext();
    void closePort();
    void whileMessageOpen();
    void checkState() const;
    void checkSent() const;

    DispatcherInput& m_input;
    FakeCommControl m_port;
    FuzzOperator m_operator;
    PortSession m_session;
    qsizetype m_pos = 0;
    int m_arms = 0;
    bool m_closeDone = false;
    bool m_inMessage = false;
    bool m_transferRunning = false;
};
