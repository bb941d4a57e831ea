#include "PackageFile.h"

#include <string>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "TextFileReader.h"

PackageFile PackageFile::loadFromAppDir(const tstring& appDir) {
    PackageFile result;
    const tstring path = FileUtils::PathBuilder() << appDir << L".package";
    if (!FileUtils::pathExists(path)) {
        return result;
    }
    LOG_TRACE(L"Read \"" << path << L"\" package file");
    const UniqueFile file = openSharedForReading(path);
    if (!file) {
        const tstring reason = tstrings::fromUtf8(lastCrtErrorText());
        VT_RAISE(tstrings::TextBuilder() << "Error opening \"" << path << "\" file: " << reason);
    }
    TextLineReader reader(file.get());
    std::string firstLine;
    if (reader.next(firstLine)) {
        // Nothing is trimmed: every character of the line belongs to the name.
        result.packageName = tstrings::fromUtf8(firstLine);
        LOG_TRACE(L"Package name is [" << result.packageName << L"]");
    }
    return result;
}
