// The user's locale code in the Java convention ("de_DE", "pt_BR", "no_NO_NY", "en"), chosen once from the
// Windows user interface language; it selects the message sets and gives the JVM its language and country.
#pragma once

#include <cstdint>
#include <string>

namespace morix {

// The code for a Windows language id: the exact id, else its primary language, else "en".
std::string localeCodeForLanguageId(uint16_t languageId);
// The code of the current user (user interface language, else the regional settings); logs it.
std::string selectLocale();
// Records the language (two characters) and, for a five-character code, the country.
void setLocaleParts(const std::string& code);
bool getLocaleLanguage(std::string& language);
bool getLocaleCountry(std::string& country);

} // namespace morix
