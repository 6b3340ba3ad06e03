// The scanner's scalar scanners for a reader that walks the text itself (the
// direct tape builder): one scalar at a time, read with the indentation
// context the scanner would have at that place, so that its text, its end
// and its errors are exactly the scanner's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace torvex {

class Scanner;
class TokenList;

class ScalarReader {
public:
    enum class Style : std::uint8_t { Plain, SingleQuoted, DoubleQuoted, Literal, Folded };
    // A place in the text: byte offset, 0-based line and column (in characters).
    struct Place {
        std::size_t pos;
        std::uint32_t line;
        std::uint32_t column;
    };

    // `text` must be valid UTF-8 and outlive the reader.
    ScalarReader(std::string_view text, std::uint32_t file_id) noexcept;
    ~ScalarReader();
    ScalarReader(const ScalarReader&) = delete;
    ScalarReader& operator=(const ScalarReader&) = delete;

    // Reads the scalar of `style` that starts at `at` (its quote or block
    // indicator, or its first character) and moves `at` just past it.
    // `indent`: the column of the innermost block collection (-1 outside
    // any); in a flow collection (`flow`), `flow_indent` is that column where
    // the outermost flow collection began. False where the scanner would
    // report an error.
    //
    // `text` is a slice of the input, or a text the reader made (an escape,
    // a fold, a block scalar's body): those accumulate in one buffer, where
    // `made` gets its offset (kNotMade for a slice or an empty text). The
    // buffer grows, so such a `text` stays valid only until the next read;
    // the offset stays valid for good.
    //
    // `run_end`, for a quoted style: where scan::find_quote_stop from just
    // past the opening quote (for the quote and `\\`, or the quote twice)
    // stopped, when the caller searched already (0 when it did not);
    // `run_high`: whether that run holds a non-ASCII byte.
    bool read(Style style, Place& at, std::int64_t indent, bool flow, std::int64_t flow_indent,
              std::string_view& text, bool& multi_line, std::size_t& made, std::size_t run_end = 0,
              bool run_high = false);
    // Where the scalar of the last successful read ends in the source, as
    // its token would end (closing quote included; a block scalar up to the
    // line after it; a plain one at its last character).
    std::size_t source_end() const noexcept { return source_end_; }
    static constexpr std::size_t kNotMade = ~std::size_t{0};

    // Hands over the buffer of every text made so far, as the arena of a
    // token list (see TokenList::made_texts), or null when no read made one.
    // The reader is spent afterwards.
    std::unique_ptr<TokenList> take_texts();

private:
    std::string_view text_;
    std::uint32_t file_id_;
    std::unique_ptr<Scanner> scanner_;
    std::size_t source_end_ = 0;  // made at the first read: most texts need none
};

}  // namespace torvex
