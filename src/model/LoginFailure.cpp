#include "model/LoginFailure.h"

#include "config/LoginService.h"
#include "support/LogService.h"
#include "support/StrictJson.h"

namespace sendova {

LoginFailure LoginFailure::from(const std::exception_ptr &failure)
{
    LoginFailure result;
    try {
        std::rethrow_exception(failure);
    } catch (const DecodingError &error) {
        result.detail = error.technicalText();
        result.description = LoginError::invalidResponse(QString()).description();
    } catch (const Error &error) {
        result.detail = error.technicalText();
        result.description = error.description();
    } catch (const std::exception &error) {
        result.detail = result.description = QString::fromLocal8Bit(error.what());
    }
    LogService::shared().log(QStringLiteral("ERROR"), QStringLiteral("API"), result.detail);
    return result;
}

} // namespace sendova
