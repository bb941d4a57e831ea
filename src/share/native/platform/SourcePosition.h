#ifndef VANTREL_SOURCEPOSITION_H
#define VANTREL_SOURCEPOSITION_H

#include <cstddef>

// Where a failure was raised or caught, or where a log event was made.
struct SourcePosition {
    const char* file;
    const char* function;
    int line;
};

namespace vt {
namespace detail {

template <std::size_t N>
struct FunctionName {
    char narrow[N] = {};
    wchar_t wide[N] = {};
};

constexpr bool opensGroup(char c) { return c == '(' || c == '<' || c == '{' || c == '['; }
constexpr bool closesGroup(char c) { return c == ')' || c == '>' || c == '}' || c == ']'; }

constexpr bool matchesAt(const char* text, std::size_t length, std::size_t pos, const char* word) {
    for (std::size_t k = 0; word[k] != 0; ++k) {
        if (pos + k >= length || text[pos + k] != word[k]) {
            return false;
        }
    }
    return true;
}

// Position of the '(' that opens the parameter list; clang spells an unnamed namespace
// "(anonymous namespace)", which is part of the name.
constexpr std::size_t parameterListStart(const char* pretty, std::size_t length) {
    int depth = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = pretty[i];
        if (c == '(' && depth == 0 && !matchesAt(pretty, length, i, "(anonymous")) {
            return i;
        }
        if (opensGroup(c)) {
            ++depth;
        } else if (closesGroup(c)) {
            --depth;
        }
    }
    return length;
}

// A conversion operator's name holds blanks ("operator void *"): start the backward scan at the
// keyword then.
constexpr std::size_t operatorKeyword(const char* pretty, std::size_t end) {
    for (std::size_t i = end; i >= 8; --i) {
        const std::size_t at = i - 8;
        if (matchesAt(pretty, end, at, "operator") &&
            (at == 0 || pretty[at - 1] == ':' || pretty[at - 1] == ' ')) {
            return at;
        }
    }
    return end;
}

// The qualified name ("CfgFile::load") out of the compiler's pretty function name
// ("static CfgFile CfgFile::load(const tstring&)").
template <std::size_t N>
constexpr FunctionName<N> qualifiedName(const char (&pretty)[N]) {
    FunctionName<N> result{};
    const std::size_t length = N - 1;
    const std::size_t end = parameterListStart(pretty, length);
    std::size_t start = operatorKeyword(pretty, end);
    int depth = 0;
    while (start > 0) {
        const char c = pretty[start - 1];
        if (closesGroup(c)) {
            ++depth;
        } else if (opensGroup(c)) {
            --depth;
        } else if (c == ' ' && depth == 0) {
            break;
        }
        --start;
    }
    for (std::size_t i = start; i < end; ++i) {
        result.narrow[i - start] = pretty[i];
        result.wide[i - start] = static_cast<wchar_t>(static_cast<unsigned char>(pretty[i]));
    }
    return result;
}

} // namespace detail
} // namespace vt

#define VT_WIDE_(text) L##text
#define VT_WIDE(text) VT_WIDE_(text)

// The enclosing function's qualified name, computed at compile time (narrow and wide forms).
#define VT_FUNCTION_NAMES                                                                          \
    (__extension__({                                                                               \
        static constexpr auto vtFunctionName_ = ::vt::detail::qualifiedName(__PRETTY_FUNCTION__); \
        &vtFunctionName_;                                                                          \
    }))
#define VT_FUNCTION_NAME (VT_FUNCTION_NAMES->narrow)
#define VT_WFUNCTION_NAME (VT_FUNCTION_NAMES->wide)

#define VT_SOURCE_POSITION (::SourcePosition{__FILE__, VT_FUNCTION_NAME, __LINE__})

#endif
