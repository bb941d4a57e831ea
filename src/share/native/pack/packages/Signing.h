#ifndef VANTREL_SIGNING_H
#define VANTREL_SIGNING_H

#include "tstrings.h"

struct PackOptions;

// Authenticode signatures with osslsigncode: the Windows launcher copy and the installer.
namespace Signing {

bool asked(const PackOptions& options);
// Before anything is written: the tool, the certificate file and the password's variable.
void check(const PackOptions& options);
// Signs file in place; a failure leaves it as it was.
void sign(const PackOptions& options, const tstring& file);

} // namespace Signing

#endif
