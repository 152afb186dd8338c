#pragma once

#include <array>

// What the operator can ask to read, by option index: the window shows the caption, the command
// line takes the name; both fill the block texts and the default file name from here.
struct DumpPreset {
    const char* caption;
    const char* cliName;
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
inline constexpr int FreePresetIndex = 4;
