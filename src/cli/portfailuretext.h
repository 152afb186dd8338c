#pragma once

#include "portfailure.h"

#include <QString>

// Why a port could not be opened or was lost, in decodump-cli's words (English). The device is
// left out: the command line's own message names the port it could not open or lost.
QString cliPortFailureText(const PortFailure& failure);
