#pragma once

#include "ptylink.h"
#include "simlog.h"
#include "simoptions.h"
#include "wiretracefile.h"

#include <cstddef>
#include <string>

// Plays the loader's side of a recorded wire trace against the tool (--replay): sends what the
// loader sent and checks that the tool sends what it sent then, so that a failure recorded in
// the field can be reproduced offline.
//
// The clock starts at the tool's first byte, which stands for the first byte the tool sent in
// the trace. In recorded pace a loader event goes out at its recorded time on that clock; in
// both paces only once every tool byte before it in the trace has arrived, so the replay never
// answers a question the tool has not asked yet. Break-in bytes (31) from the tool are not
// compared, as their number depends on timing: they are dropped on both sides.
class TraceReplay {
public:
    TraceReplay(PtyLink& link, const WireTraceFile& trace, const SimOptions& options,
                const SimLog& log);

    // Returns once the trace is through and the tool has closed the port; throws SimError
    // (Protocol) naming the event when the tool's bytes differ from the recorded ones.
    void play();

private:
    void expectToolBytes(std::size_t index, const WireTraceFile::Event& event);
    void sendLoaderBytes(std::size_t index, const WireTraceFile::Event& event);
    unsigned char nextToolByte(const std::string& where);
    void finish();
    std::string eventName(std::size_t index, const WireTraceFile::Event& event) const;

    PtyLink& m_link;
    const WireTraceFile& m_trace;
    const SimOptions& m_options;
    const SimLog& m_log;
    PtyLink::Clock::time_point m_zero;
    long long m_baseMicroseconds = 0;
    unsigned long m_closesAtStart = 0;
};
