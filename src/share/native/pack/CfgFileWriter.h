#ifndef VANTREL_CFGFILEWRITER_H
#define VANTREL_CFGFILEWRITER_H

#include <string>

#include "PackOptions.h"

// The launcher configuration of an image, UTF-8 text for CfgFile::load. Paths inside the image
// start with "$APPDIR" and use the target's separator; mainClass is the class to start when
// there is no main module.
std::string makeCfgText(const PackOptions& options, const tstring& mainClass);

// The configuration of an extra launcher: the image's class path, module path and Java options
// with its own main class; the default arguments, splash screen and update check are the main
// launcher's alone.
std::string makeExtraCfgText(const PackOptions& options, const ExtraLauncher& launcher);

// "$APPDIR" joined with a path relative to the application directory, in the target's terms.
tstring appDirPath(const PackTarget& target, const tstring& relativePath);

#endif
