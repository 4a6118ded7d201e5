#include "store/RowBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace store::detail {

namespace {

enum Tag : unsigned char { TagNull, TagInteger, TagReal, TagText, TagBlob };

constexpr std::size_t kMinArena = 64 * 1024;
constexpr std::size_t kMaxVarint = 10;

std::uint64_t zigzag(std::int64_t v)
{
    return (std::uint64_t(v) << 1) ^ std::uint64_t(v >> 63);
}

std::int64_t unzigzag(std::uint64_t v)
{
    return std::int64_t(v >> 1) ^ -std::int64_t(v & 1);
}

unsigned char* writeVarint(unsigned char* out, std::uint64_t v)
{
    while (v >= 0x80) {
        *out++ = static_cast<unsigned char>(v | 0x80);
        v >>= 7;
    }
    *out++ = static_cast<unsigned char>(v);
    return out;
}

const unsigned char* readVarint(const unsigned char* in, std::uint64_t& v)
{
    v = 0;
    int shift = 0;
    for (;;) {
        const unsigned char byte = *in++;
        v |= std::uint64_t(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return in;
        shift += 7;
    }
}

// Decodes the cell at p and returns the position after it.
const unsigned char* decode(const unsigned char* p, Cell& cell)
{
    std::uint64_t v = 0;
    switch (*p++) {
    case TagNull:
        cell = Cell::null();
        return p;
    case TagInteger:
        p = readVarint(p, v);
        cell = Cell::ofInteger(unzigzag(v));
        return p;
    case TagReal: {
        double d;
        std::memcpy(&d, p, sizeof d);
        cell = Cell::ofReal(d);
        return p + sizeof d;
    }
    case TagText:
    case TagBlob: {
        const bool text = p[-1] == TagText;
        p = readVarint(p, v);
        const std::string_view bytes(reinterpret_cast<const char*>(p), std::size_t(v));
        cell = text ? Cell::ofText(bytes) : Cell::ofBlob(bytes);
        return p + v;
    }
    }
    std::abort(); // a corrupted arena: nothing sensible can be read from it
}

// Resizes a block in place where the allocator can (realloc), keeping its ownership.
template <typename T>
void grow(MallocBlock<T>& block, std::size_t count)
{
    void* grown = std::realloc(block.get(), count * sizeof(T));
    if (!grown)
        throw std::bad_alloc();
    (void)block.release();
    block.reset(static_cast<T*>(grown));
}

} // namespace

RowBuffer::~RowBuffer() = default;

void RowBuffer::reserveArena(std::size_t extra)
{
    if (arenaSize_ + extra <= arenaCapacity_)
        return;
    const std::size_t wanted = std::max({arenaCapacity_ * 2, arenaSize_ + extra, kMinArena});
    grow(arena_, wanted);
    arenaCapacity_ = wanted;
}

void RowBuffer::reserveIndex(std::size_t rows)
{
    if (rows <= indexCapacity_)
        return;
    const std::size_t wanted = std::max({indexCapacity_ * 2, rows, std::size_t(1024)});
    grow(index_, wanted);
    indexCapacity_ = wanted;
}

void RowBuffer::beginRow()
{
    rowStart_ = arenaSize_;
    rowCells_ = 0;
}

void RowBuffer::putNull()
{
    reserveArena(1);
    arena_[arenaSize_++] = TagNull;
    ++rowCells_;
}

void RowBuffer::putInteger(std::int64_t value)
{
    reserveArena(1 + kMaxVarint);
    unsigned char* p = arena_.get() + arenaSize_;
    *p++ = TagInteger;
    p = writeVarint(p, zigzag(value));
    arenaSize_ = std::size_t(p - arena_.get());
    ++rowCells_;
}

void RowBuffer::putReal(double value)
{
    reserveArena(1 + sizeof value);
    arena_[arenaSize_] = TagReal;
    std::memcpy(arena_.get() + arenaSize_ + 1, &value, sizeof value);
    arenaSize_ += 1 + sizeof value;
    ++rowCells_;
}

void RowBuffer::putBytes(unsigned char tag, const void* data, std::size_t size)
{
    reserveArena(1 + kMaxVarint + size);
    unsigned char* p = arena_.get() + arenaSize_;
    *p++ = tag;
    p = writeVarint(p, size);
    if (size)
        std::memcpy(p, data, size);
    arenaSize_ = std::size_t(p + size - arena_.get());
    ++rowCells_;
}

void RowBuffer::putText(const char* data, std::size_t size)
{
    putBytes(TagText, data, size);
}

void RowBuffer::putBlob(const void* data, std::size_t size)
{
    putBytes(TagBlob, data, size);
}

void RowBuffer::put(const Cell& cell)
{
    switch (cell.type) {
    case Cell::Type::Null:
        putNull();
        break;
    case Cell::Type::Integer:
        putInteger(cell.integer);
        break;
    case Cell::Type::Real:
        putReal(cell.real);
        break;
    case Cell::Type::Text:
        putText(cell.bytes.data(), cell.bytes.size());
        break;
    case Cell::Type::Blob:
        putBlob(cell.bytes.data(), cell.bytes.size());
        break;
    }
}

void RowBuffer::moveGapTo(std::size_t row)
{
    if (gapSize_ == 0) {
        gapStart_ = row;
        return;
    }
    std::uint64_t* index = index_.get();
    if (row < gapStart_)
        std::memmove(index + row + gapSize_, index + row, (gapStart_ - row) * sizeof(std::uint64_t));
    else if (row > gapStart_)
        std::memmove(index + gapStart_, index + gapStart_ + gapSize_, (row - gapStart_) * sizeof(std::uint64_t));
    gapStart_ = row;
}

void RowBuffer::appendRow()
{
    moveGapTo(rowCount_);
    if (gapSize_ > 0) {
        --gapSize_;
    } else {
        reserveIndex(rowCount_ + 1);
    }
    index_[rowCount_++] = rowStart_;
    gapStart_ = rowCount_;
    cellsPerRow_ = rowCells_;
}

void RowBuffer::abandonRow()
{
    arenaSize_ = rowStart_;
    rowCells_ = 0;
}

void RowBuffer::replaceRow(std::size_t row)
{
    wasted_ += rowSize(std::size_t(index_[slot(row)]), cellsPerRow_);
    index_[slot(row)] = rowStart_;
    cellsPerRow_ = rowCells_;
    compactIfWasteful();
}

Cell RowBuffer::cell(std::size_t row, std::size_t column) const
{
    const unsigned char* p = arena_.get() + index_[slot(row)];
    Cell cell;
    for (std::size_t i = 0; i < column; ++i)
        p = decode(p, cell);
    decode(p, cell);
    return cell;
}

void RowBuffer::removeRow(std::size_t row)
{
    wasted_ += rowSize(std::size_t(index_[slot(row)]), cellsPerRow_);
    moveGapTo(row);
    ++gapSize_;
    --rowCount_;
    compactIfWasteful();
}

void RowBuffer::copyFrom(const RowBuffer& other)
{
    RowBuffer copy;
    if (other.arenaSize_) {
        copy.reserveArena(other.arenaSize_);
        std::memcpy(copy.arena_.get(), other.arena_.get(), other.arenaSize_);
    }
    copy.arenaSize_ = other.arenaSize_;
    const std::size_t slots = other.rowCount_ + other.gapSize_;
    if (slots) {
        copy.reserveIndex(slots);
        std::memcpy(copy.index_.get(), other.index_.get(), slots * sizeof(std::uint64_t));
    }
    copy.rowCount_ = other.rowCount_;
    copy.gapStart_ = other.gapStart_;
    copy.gapSize_ = other.gapSize_;
    copy.cellsPerRow_ = other.cellsPerRow_;
    copy.wasted_ = other.wasted_;
    swap(copy);
}

void RowBuffer::swap(RowBuffer& other) noexcept
{
    std::swap(arena_, other.arena_);
    std::swap(arenaSize_, other.arenaSize_);
    std::swap(arenaCapacity_, other.arenaCapacity_);
    std::swap(index_, other.index_);
    std::swap(rowCount_, other.rowCount_);
    std::swap(indexCapacity_, other.indexCapacity_);
    std::swap(gapStart_, other.gapStart_);
    std::swap(gapSize_, other.gapSize_);
    std::swap(rowStart_, other.rowStart_);
    std::swap(rowCells_, other.rowCells_);
    std::swap(cellsPerRow_, other.cellsPerRow_);
    std::swap(wasted_, other.wasted_);
}

std::size_t RowBuffer::rowSize(std::size_t offset, std::size_t cells) const
{
    const unsigned char* start = arena_.get() + offset;
    const unsigned char* p = start;
    Cell cell;
    for (std::size_t i = 0; i < cells; ++i)
        p = decode(p, cell);
    return std::size_t(p - start);
}

void RowBuffer::compactIfWasteful()
{
    if (wasted_ < kMinArena || wasted_ * 2 < arenaSize_)
        return;
    moveGapTo(rowCount_);
    std::size_t live = 0;
    for (std::size_t row = 0; row < rowCount_; ++row)
        live += rowSize(std::size_t(index_[row]), cellsPerRow_);
    MallocBlock<unsigned char> packed(static_cast<unsigned char*>(std::malloc(std::max(live, std::size_t(1)))));
    if (!packed)
        return; // keep the wasteful arena rather than fail a write that has succeeded
    std::size_t size = 0;
    for (std::size_t row = 0; row < rowCount_; ++row) {
        const std::size_t length = rowSize(std::size_t(index_[row]), cellsPerRow_);
        std::memcpy(packed.get() + size, arena_.get() + index_[row], length);
        index_[row] = size;
        size += length;
    }
    arena_ = std::move(packed);
    arenaSize_ = size;
    arenaCapacity_ = live;
    wasted_ = 0;
}

void RowBuffer::shrinkToFit()
{
    moveGapTo(rowCount_);
    gapSize_ = 0;
    if (arenaSize_ && arenaSize_ < arenaCapacity_) {
        grow(arena_, arenaSize_);
        arenaCapacity_ = arenaSize_;
    }
    if (rowCount_ && rowCount_ < indexCapacity_) {
        grow(index_, rowCount_);
        indexCapacity_ = rowCount_;
    }
}

} // namespace store::detail
