#pragma once

// The data bytes of one flash block: what each frame carries and what each record of a dump
// file holds.
inline constexpr int BlockSize = 1024;
