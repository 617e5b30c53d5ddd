#include "tap/TapLog.h"

Q_LOGGING_CATEGORY(lcTap, "quillpost.tap", QtInfoMsg)
