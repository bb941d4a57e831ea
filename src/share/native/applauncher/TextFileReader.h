#ifndef VANTREL_TEXTFILEREADER_H
#define VANTREL_TEXTFILEREADER_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "FileUtils.h"
#include "tstrings.h"

// Splits a byte stream into lines the way the Windows C runtime's text mode reads a file: a
// CR LF pair reads as LF and a Ctrl-Z byte ends the input. Done here rather than by the C
// runtime so that a file written on Windows reads the same on every platform.
class TextLineReader {
public:
    explicit TextLineReader(std::FILE* stream);

    // The next line, without its line end; the last line needs none. False when the input
    // has ended or a read has failed.
    bool next(std::string& line);

    // A read error, not the end of the input, stopped the reading.
    bool failed() const { return readError != 0; }
    // The C runtime's error number of that read error.
    int errorNumber() const { return readError; }

private:
    bool fill();

    std::FILE* stream;
    std::vector<char> buffer;
    std::size_t pos = 0;
    std::size_t end = 0;
    bool inputEnded = false;
    int readError = 0;
};

#endif
