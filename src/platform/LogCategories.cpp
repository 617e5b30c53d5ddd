#include "platform/LogCategories.h"

Q_LOGGING_CATEGORY(lcDatabase, "quillpost.database", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLine, "quillpost.line", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSend, "quillpost.send", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLock, "quillpost.lock", QtInfoMsg)
