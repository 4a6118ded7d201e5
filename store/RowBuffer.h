#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

namespace store::detail {

// One stored value as the engine gave it: what RowBuffer keeps and hands back.
struct Cell {
    enum class Type : std::uint8_t { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view bytes; // Text (UTF-8) or Blob; points into the buffer or the caller's data

    static Cell null() { return {}; }
    static Cell ofInteger(std::int64_t v) { Cell c; c.type = Type::Integer; c.integer = v; return c; }
    static Cell ofReal(double v) { Cell c; c.type = Type::Real; c.real = v; return c; }
    static Cell ofText(std::string_view v) { Cell c; c.type = Type::Text; c.bytes = v; return c; }
    static Cell ofBlob(std::string_view v) { Cell c; c.type = Type::Blob; c.bytes = v; return c; }
};

// A block from malloc, given back with free: the arena grows with realloc, which can
// extend a block in place where new/copy could not.
struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};
template <typename T>
using MallocBlock = std::unique_ptr<T[], FreeDeleter>;

// The rows of a record set packed into one growing byte arena, plus the offset of each
// row. A row is its cells one after another, each a tag byte followed by a zigzag varint
// (integers), 8 bytes (reals) or a varint length and the bytes (text, blob). Rows are
// only ever appended; a changed row is appended again and its index entry repointed,
// and the space of dropped rows is reclaimed once it is half the arena.
// The row index is a gap buffer: removing a row moves the gap to it, so removing the
// same position again and again (a set deleted row by row from its cursor) costs O(1)
// per row, and removing at distance k from the last removal costs O(k).
class RowBuffer {
public:
    RowBuffer() = default;
    ~RowBuffer();
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;

    // Building a row: the puts of one row between beginRow() and one of the ends.
    void beginRow();
    void putNull();
    void putInteger(std::int64_t value);
    void putReal(double value);
    void putText(const char* data, std::size_t size);
    void putBlob(const void* data, std::size_t size);
    void put(const Cell& cell);
    void appendRow();                 // the row becomes the last one
    void replaceRow(std::size_t row); // the row takes the place of an existing one
    void abandonRow();                // forgets the row being built

    std::size_t rowCount() const { return rowCount_; }
    // Cell `column` of `row`; text and blob views stay valid until the next change.
    Cell cell(std::size_t row, std::size_t column) const;
    void removeRow(std::size_t row);

    // This buffer becomes a copy of other.
    void copyFrom(const RowBuffer& other);
    void swap(RowBuffer& other) noexcept;

    // Gives back the slack of growing (call once all rows are in).
    void shrinkToFit();
    std::size_t storageBytes() const { return arenaCapacity_ + indexCapacity_ * sizeof(std::uint64_t); }

private:
    void putBytes(unsigned char tag, const void* data, std::size_t size);
    void reserveArena(std::size_t extra);
    void reserveIndex(std::size_t rows);
    void compactIfWasteful();
    std::size_t rowSize(std::size_t offset, std::size_t cells) const;
    std::size_t slot(std::size_t row) const { return row < gapStart_ ? row : row + gapSize_; }
    void moveGapTo(std::size_t row);

    MallocBlock<unsigned char> arena_;
    std::size_t arenaSize_ = 0;
    std::size_t arenaCapacity_ = 0;
    MallocBlock<std::uint64_t> index_;
    std::size_t rowCount_ = 0;
    std::size_t indexCapacity_ = 0;
    std::size_t gapStart_ = 0;   // the gap of unused index slots: [gapStart_, gapStart_ + gapSize_)
    std::size_t gapSize_ = 0;
    std::size_t rowStart_ = 0;   // offset of the row being built
    std::size_t rowCells_ = 0;   // cells put so far into the row being built
    std::size_t cellsPerRow_ = 0; // known after the first row; used when compacting
    std::size_t wasted_ = 0;
};

} // namespace store::detail
