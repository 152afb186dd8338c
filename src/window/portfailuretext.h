#pragma once

#include "portfailure.h"

#include <QString>

// Why a port could not be opened or was lost, in the window's words (Spanish): what happened to
// which device, and what the operator can do about it.
QString windowPortFailureText(const PortFailure& failure);
