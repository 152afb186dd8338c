#pragma once

#include <QString>

#include <array>

// The dump presets, by option index: what to read and the default file name.
struct DumpPreset {
    const char* caption;
    const char* cliName; // name on the command line
    const char* firstBlock;
    const char* blockCount;
    const char* fileName;
    bool blocksEditable;
};

inline constexpr std::array<DumpPreset, 5> DumpPresets{{
    {"Todo (2 Mg)", "full", "0000", "2048", "Full_2048.bin", false},
    {"Bootloader 64 Kb", "bl64", "1984", "0064", "BL_64.bin", false},
    {"Bootloader 128 Kb", "bl128", "1920", "0128", "BL_128.bin", false},
    {"Firmware (1 Mg)", "firmware", "0000", "1024", "Firmware.bin", false},
    {"Libre", "free", "0000", "", "FREE_DATA.bin", true},
}};

inline constexpr int DefaultPresetIndex = 2;
