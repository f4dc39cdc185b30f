#pragma once

#include "support/LocalizationService.h"

namespace sendova::ui {

// The text of key in the language of this moment.
inline QString text(const char *key)
{
    return LocalizationService::shared().localized(key);
}

} // namespace sendova::ui
