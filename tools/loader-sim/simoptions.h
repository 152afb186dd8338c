#pragma once

#include <cstdint>
#include <string>

// The command line of loader-sim; simHelpText() describes every field.
struct SimOptions {
    enum class Mode { Ack, RespFile };
    enum class Pace { Recorded, Fast };

    bool help = false;
    Mode mode = Mode::Ack;
    std::uint64_t seed = 1;
    std::string imagePath;
    std::string writeImagePath;
    bool noPty = false;
    std::string linkPath;
    std::string responsesDir;
    std::string respLine = "1920";
    unsigned baud = 0;
    unsigned piece = 16; // bytes handed over at a time when paced
    long long sessions = 1;
    long long badSumBlock = 0;
    long long surplusBlock = 0;
    long long shortBlock = 0;
    long long vanishBlock = 0;
    long long vanishMidBlock = 0;
    long long stallBlock = 0;
    long long corruptBlock = 0;
    bool wrongTotal = false;
    long long lingerMs = 1500;
    long long noiseLines = 0;
    long long longLine = 0;
    long long garbage = 0;
    bool silent = false;
    std::string recordPath;
    std::string replayPath;
    Pace replayPace = Pace::Recorded;
    bool quiet = false;
    double timeoutSeconds = 0;
};

// Throws SimError(Usage) for an unknown option or a bad value.
SimOptions parseSimOptions(int argc, char** argv);

std::string simHelpText();
