#include "portlog.h"

Q_LOGGING_CATEGORY(lcPort, "decodump.port", QtWarningMsg)
