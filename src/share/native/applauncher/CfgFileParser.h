#ifndef VANTREL_CFGFILEPARSER_H
#define VANTREL_CFGFILEPARSER_H

#include <cstdio>

#include "CfgFile.h"
#include "SourcePosition.h"

// What CfgFile::load does once the file is open; stream is read to its end or to the error.
// The errors name path and are raised at position. Apart from CfgFile::load, only the fuzzer
// calls it, on a stream in memory.
CfgFile parseCfgStream(std::FILE* stream, const tstring& path, const SourcePosition& position);

#endif
