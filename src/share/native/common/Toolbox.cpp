#include "Toolbox.h"

#include "ErrorHandling.h"

AtEndOfScope::~AtEndOfScope() {
    if (action) {
        catchAndLog(VT_SOURCE_POSITION, action);
    }
}
