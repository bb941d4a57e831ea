#ifndef VANTREL_BINARYDATA_H
#define VANTREL_BINARYDATA_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<std::uint8_t> Bytes;

// Little-endian reads from bytes of untrusted origin. Every read is bounds-checked; a failed
// check raises one error starting with the view's context ("Invalid icon file \"x.ico\""), so
// that a reader needs no checks of its own for truncation. Its own refusals read the same:
// VT_RAISE(view.problem("not an .ico file")).
class ByteView {
public:
    ByteView(const std::uint8_t* data, std::size_t size, std::string context)
        : bytes(data), length(size), context(std::move(context)) {}
    ByteView(const Bytes& data, std::string context)
        : ByteView(data.data(), data.size(), std::move(context)) {}

    std::size_t size() const { return length; }
    const std::uint8_t* data() const { return bytes; }

    std::uint8_t u8(std::size_t offset) const;
    std::uint16_t u16(std::size_t offset) const;
    std::uint32_t u32(std::size_t offset) const;
    // count bytes from offset.
    ByteView sub(std::size_t offset, std::size_t count) const;
    Bytes copy(std::size_t offset, std::size_t count) const;
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= length && count <= length - offset;
    }

    std::string problem(const std::string& reason) const { return context + ": " + reason; }

private:
    void require(std::size_t offset, std::size_t count) const;

    const std::uint8_t* bytes;
    std::size_t length;
    std::string context;
};

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void put32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void append16(Bytes& bytes, std::uint16_t value);
void append32(Bytes& bytes, std::uint32_t value);
void padTo(Bytes& bytes, std::size_t alignment);

inline std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

#endif
