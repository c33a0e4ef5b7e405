#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

namespace tagora {

// Base of the errors the program raises itself. The message is what the standard
// error display shows.
class Error : public std::exception
{
public:
    explicit Error(QString message);
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Abandons an operation without any message.
class EAbort : public Error
{
public:
    using Error::Error;
};

// A text that is not a valid number, date or time.
class EConvertError : public Error
{
public:
    using Error::Error;
};

// Failures of the settings store.
class ERegistryException : public Error
{
public:
    using Error::Error;
};

class EFilerError : public Error
{
public:
    using Error::Error;
};

class EReadError : public EFilerError
{
public:
    using EFilerError::EFilerError;
};

// An operating-system call failed; the message is "I/O error <code>".
class EInOutError : public Error
{
public:
    explicit EInOutError(int errorCode);
    int errorCode() const noexcept { return m_errorCode; }

private:
    int m_errorCode;
};

} // namespace tagora
