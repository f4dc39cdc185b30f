#pragma once

#include <QString>

#include <exception>

namespace sendova {

// A failure of a login-service request as the setup and settings sheets show
// it: the error's description, except that a reply the decoder refused reads
// as the localized invalid-response text. The technical rendering goes to
// the log.
struct LoginFailure
{
    QString description;
    QString detail;

    static LoginFailure from(const std::exception_ptr &failure);
};

} // namespace sendova
