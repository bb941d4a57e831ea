#ifndef VANTREL_SOURCEDATE_H
#define VANTREL_SOURCEDATE_H

#include <cstdint>

// SOURCE_DATE_EPOCH, the time that reproducible packages carry instead of the files' own.
namespace SourceDate {

// Raises unless the variable is unset or a decimal number of seconds from 0 to the end of the
// year 9999 (what a Debian package's archive members can hold).
void check();
bool isSet();
// The variable's value; only when isSet().
std::int64_t epoch();
// The variable's value when set, else now.
std::int64_t epochOrNow();

} // namespace SourceDate

#endif
