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
    } catch (...) {
        Prompt::current().inform(QStringLiteral("The command failed for a reason it could not name."));
    }
    return false;
}
