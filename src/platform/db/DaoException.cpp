#include "platform/db/DaoException.h"

CDaoException::CDaoException(Kind kind, const QString& reason)
    : m_kind(kind)
    , m_reason(reason)
    , m_what(reason.toUtf8())
{
}

const char* CDaoException::what() const noexcept
{
    return m_what.constData();
}
