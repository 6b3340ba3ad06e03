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

    Text(const Text& other) : data_(other.data_), size_(other.size_), owned_(false) {
        if (other.owned_) *this = owned(other.str());
    }
    Text(Text&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          owned_(std::exchange(other.owned_, false)) {}
    Text& operator=(const Text& other) {
        if (this != &other) *this = Text(other);
        return *this;
    }
    Text& operator=(Text&& other) noexcept {
        if (this != &other) {
            release();
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            owned_ = std::exchange(other.owned_, false);
        }
        return *this;
    }
    ~Text() { release(); }

    std::string_view str() const noexcept { return {data_, static_cast<std::size_t>(size_)}; }
    std::string string() const { return std::string(str()); }
    std::size_t size() const noexcept { return static_cast<std::size_t>(size_); }
    bool empty() const noexcept { return size_ == 0; }
    bool is_owned() const noexcept { return owned_; }

    friend bool operator==(const Text& a, std::string_view b) noexcept { return a.str() == b; }

private:
    // A shallow copy, for views only.
    Text(const char* data, std::size_t size, bool owned) noexcept : data_(data), size_(size), owned_(owned) {}
    void release() noexcept {
        if (owned_) delete[] data_;
    }

    const char* data_ = nullptr;
    std::uint64_t size_ = 0;
    bool owned_ = false;
};

}  // namespace torvex::rt
