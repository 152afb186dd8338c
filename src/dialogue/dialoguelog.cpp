#include "dialoguelog.h"

Q_LOGGING_CATEGORY(lcDialogue, "decodump.dialogue", QtWarningMsg)
