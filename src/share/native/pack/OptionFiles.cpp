#include "OptionFiles.h"

#include <fstream>
#include <sstream>

#include "PackFiles.h"
#include "PackOptions.h"

namespace {

bool isSpace(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f';
}

wchar_t escaped(wchar_t c) {
    switch (c) {
    case L'n':
        return L'\n';
    case L't':
        return L'\t';
    case L'r':
        return L'\r';
    case L'f':
        return L'\f';
    default:
        return c;
    }
}

} // namespace

namespace OptionFiles {

tstring_array parse(const std::string& bytes, const tstring& fileName) {
    const tstring text = tstrings::fromUtf8(bytes);
    if (text.empty() && !bytes.empty()) {
        valueRefused(tstrings::TextBuilder()
                     << L"the option file " << fileName << L" is not UTF-8 text");
    }
    tstring_array args;
    tstring arg;
    bool inArg = false;
    std::size_t line = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (isSpace(c)) {
            if (inArg) {
                args.push_back(arg);
            }
            arg.clear();
            inArg = false;
        } else if (c == L'#' && !inArg) {
            i = text.find(L'\n', i) - 1; // npos - 1 ends the loop too
        } else if (c == L'"' || c == L'\'') {
            inArg = true;
            for (++i; i < text.size() && text[i] != c; ++i) {
                if (text[i] == L'\n' || (text[i] == L'\r' && text[i + 1] == L'\n')) {
                    break;
                }
                if (text[i] != L'\\' || i + 1 == text.size()) {
                    arg += text[i];
                    continue;
                }
                const std::size_t next = text[i + 1] == L'\r' ? i + 2 : i + 1;
                if (next < text.size() && text[next] == L'\n') {
                    // The argument goes on with the next line's first character that isn't white.
                    for (i = next, ++line; i + 1 < text.size() && isSpace(text[i + 1]); ++i) {
                    }
                } else {
                    arg += escaped(text[++i]);
                }
            }
            if (i >= text.size() || text[i] != c) {
                valueRefused(tstrings::TextBuilder()
                             << L"the option file " << fileName << L", line " << line
                             << L": a quote is not closed on its line");
            }
        } else {
            arg += c;
            inArg = true;
        }
        line += c == L'\n' ? 1 : 0;
    }
    if (inArg) {
        args.push_back(arg);
    }
    return args;
}

tstring_array expand(const tstring_array& args) {
    tstring_array result;
    for (const tstring& arg : args) {
        if (!tstrings::startsWith(arg, L"@")) {
            result.push_back(arg);
        } else if (tstrings::startsWith(arg, L"@@")) {
            result.push_back(arg.substr(1));
        } else {
            const tstring file = arg.substr(1);
            std::ifstream stream(PackFiles::fsPath(file), std::ios::binary);
            std::ostringstream bytes;
            bytes << stream.rdbuf();
            if (!PackFiles::exists(file)) {
                valueRefused(tstrings::TextBuilder()
                             << L"the option file " << printable(file) << L" does not exist");
            }
            if (!stream || !PackFiles::isFile(file)) {
                valueRefused(tstrings::TextBuilder()
                             << L"cannot read the option file " << printable(file));
            }
            const tstring_array read = parse(bytes.str(), file);
            result.insert(result.end(), read.begin(), read.end());
        }
    }
    return result;
}

} // namespace OptionFiles
