// Text held by the round-trip tree: a view into bytes the document keeps
// (its source texts and the scanner's arenas) or, once an edit made it, a
// heap copy of its own. Loading copies nothing per node; a clone of a view is
// another view, so clones stay cheap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace torvex::rt {

class Text {
public:
    Text() noexcept = default;

    // Refers to `s`, which must outlive the text (document-owned storage).
    static Text view(std::string_view s) noexcept { return Text(s.data(), s.size(), false); }
    // Copies `s` into storage of its own.
    static Text owned(std::string_view s) {
        if (s.empty()) return Text();
        char* copy = new char[s.size()];
        std::memcpy(copy, s.data(), s.size());
        return Text(copy, s.size(), true);
    }

    Text(const Text& other) : data_(other.data_), bits_(other.size()) {
        if (other.is_owned()) *this = owned(other.str());
    }
    Text(Text&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), bits_(std::exchange(other.bits_, 0)) {}
    Text& operator=(const Text& other) {
        if (this != &other) *this = Text(other);
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            bits_ = std::exchange(other.bits_, 0);
        }
        return *this;
    }
    ~Text() { release(); }

    std::string_view str() const noexcept { return {data_, size()}; }
    std::string string() const { return std::string(str()); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(bits_ & kSizeMask); }
    bool empty() const noexcept { return size() == 0; }
    bool is_owned() const noexcept { return (bits_ & kOwnedBit) != 0; }

    friend bool operator==(const Text& a, std::string_view b) noexcept { return a.str() == b; }

private:
    // A shallow copy, for views only.
    Text(const char* data, std::size_t size, bool owned) noexcept
        : data_(data), bits_(static_cast<std::uint64_t>(size) | (owned ? kOwnedBit : 0)) {}
    void release() noexcept {
        if (is_owned()) delete[] data_;
    }

    // The size and the owned flag share one word: a node holds three texts.
    static constexpr std::uint64_t kOwnedBit = std::uint64_t{1} << 63;
    static constexpr std::uint64_t kSizeMask = kOwnedBit - 1;

    const char* data_ = nullptr;
    std::uint64_t bits_ = 0;
};
static_assert(sizeof(Text) == 16, "texts are kept compact");

}  // namespace torvex::rt
