#include "platform/CommandErrors.h"

#include "platform/Prompt.h"
#include "platform/db/DaoException.h"

#include <exception>

bool RunReportingErrors(const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const CDaoException& failure) {
        Prompt::current().inform(failure.reason());
    } catch (const std::exception& failure) {
        Prompt::current().inform(QString::fromLocal8Bit(failure.what()));
    }
    return false;
}
