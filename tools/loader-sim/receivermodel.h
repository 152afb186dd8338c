#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>

// What the tool makes of the bytes the loader sends during a transfer. The tool tells frames
// apart by count alone: each frame is the next 1032 bytes it has received and the total is the
// next byte after the last frame, whatever the loader meant them to be. Following that, the
// simulator knows which sums the tool finds wrong and whether it will confirm the total, also
// when a fault has shifted the stream; the tests learn from it what the tool writes and reports.
class ReceiverModel {
public:
    static constexpr std::size_t DataSize = 1024;
    static constexpr std::size_t FrameSize = 1032;

    // A frame as the tool takes it.
    struct Frame {
        std::string data;          // the record the tool writes
        unsigned char sum = 0;     // of the data, modulo 256
        unsigned char sumByte = 0; // the byte the tool compares that sum with

        bool sumMatches() const { return sum == sumByte; }
    };

    // The byte the tool takes as the loader's total, beside the sum of every frame it took.
    struct Total {
        unsigned char received = 0;
        unsigned char computed = 0;

        bool matches() const { return received == computed; }
    };

    // Bytes on their way to the tool.
    void sent(std::string_view bytes);

    // The tool takes the next frame; nothing while fewer than FrameSize bytes are on their way.
    std::optional<Frame> takeFrame();
    // The tool takes the next byte as the loader's total; nothing when no byte is on its way.
    std::optional<Total> takeTotal();

private:
    std::deque<unsigned char> m_pending;
    unsigned m_total = 0;
};
