#include "errors.h"

#include <utility>

namespace tagora {

Error::Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

EInOutError::EInOutError(int errorCode)
    : Error(QStringLiteral("I/O error ") + QString::number(errorCode)), m_errorCode(errorCode)
{
}

} // namespace tagora
