#pragma once

#include <deque>
#include <string_view>

// What the tool makes of the bytes the loader sends during a transfer. The tool tells frames
// apart by count alone: each frame is the next 1032 bytes it has received and the total is the
// next byte after the last frame, whatever the loader meant them to be. Following that, the
// simulator knows which sums the tool finds wrong and whether it will confirm the total, also
// when a fault has shifted the stream.
class ReceiverModel {
public:
    static constexpr std::size_t FrameSize = 1032;

    // Bytes on their way to the tool.
    void sent(std::string_view bytes);

    // The tool takes the next frame; false when its sum byte disagrees with its data.
    bool takeFrame();
    // The tool takes the next byte as the loader's total; true when it matches the sum of the
    // data bytes of every frame the tool took.
    bool takeTotal();

private:
    std::deque<unsigned char> m_pending;
    unsigned m_total = 0;
};
