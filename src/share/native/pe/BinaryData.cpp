#include "BinaryData.h"

#include "ErrorHandling.h"

std::uint8_t ByteView::u8(std::size_t offset) const {
    require(offset, 1);
    return bytes[offset];
}

std::uint16_t ByteView::u16(std::size_t offset) const {
    require(offset, 2);
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t ByteView::u32(std::size_t offset) const {
    require(offset, 4);
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

ByteView ByteView::sub(std::size_t offset, std::size_t count) const {
    require(offset, count);
    return ByteView(bytes + offset, count, context);
}

Bytes ByteView::copy(std::size_t offset, std::size_t count) const {
    require(offset, count);
    return Bytes(bytes + offset, bytes + offset + count);
}

void ByteView::require(std::size_t offset, std::size_t count) const {
    if (!has(offset, count)) {
        VT_RAISE(problem("truncated: " + std::to_string(count) + " bytes at offset " +
                         std::to_string(offset) + " lie beyond its " + std::to_string(length) +
                         " bytes"));
    }
}

void put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
    bytes[offset] = static_cast<std::uint8_t>(value);
}

void put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    put16(bytes, offset, static_cast<std::uint16_t>(value));
    put16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

void append16(Bytes& bytes, std::uint16_t value) {
    bytes.resize(bytes.size() + 2);
    put16(bytes, bytes.size() - 2, value);
}

void append32(Bytes& bytes, std::uint32_t value) {
    bytes.resize(bytes.size() + 4);
    put32(bytes, bytes.size() - 4, value);
}

void padTo(Bytes& bytes, std::size_t alignment) {
    bytes.resize((bytes.size() + alignment - 1) / alignment * alignment);
}
