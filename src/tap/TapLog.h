#pragma once

#include <QLoggingCategory>

// quillpost.tap: the exchange with the paging terminal. It lives with the protocol code,
// which knows nothing of the rest of the program; debug messages (each step of the
// exchange) are off unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcTap)
