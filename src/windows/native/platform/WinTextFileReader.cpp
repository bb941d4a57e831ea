// Opening a text file on Windows: others may go on reading and writing it.
#include <share.h>

#include "FileUtils.h"

UniqueFile openSharedForReading(const tstring& path) {
    return UniqueFile(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
}
