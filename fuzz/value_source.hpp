// The fuzz-input reader shared by the emitter fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "decode/value.hpp"

namespace torvex_fuzz {

// Reads a bounded Value tree from fuzz bytes. Strings are always valid
// UTF-8: ASCII bytes are taken as they are, other bytes pick a piece from a
// table of tricky texts (keywords, indicators, line breaks, non-ASCII).
class ValueSource {
public:
    ValueSource(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

    std::uint8_t byte() { return p_ < end_ ? *p_++ : 0; }

    torvex::Value value(int depth) {
        if (++nodes_ > 4000) return torvex::Value();
        const std::uint8_t k = byte();
        switch (depth >= 48 ? k % 7 : k % 10) {
            case 0: return torvex::Value();
            case 1: return torvex::Value::boolean(k & 16);
            case 2: {
                std::uint64_t v = 0;
                for (int i = 0, n = byte() % 9; i < n; ++i) v = (v << 8) | byte();
                return torvex::Value::integer(static_cast<std::int64_t>(v));
            }
            case 3: {
                std::uint64_t bits = 0;
                for (int i = 0; i < 8; ++i) bits = (bits << 8) | byte();
                double d;
                std::memcpy(&d, &bits, sizeof d);
                return torvex::Value::floating(d);
            }
            case 4: {
                std::string digits = (k & 16) ? "-" : ((k & 32) ? "+" : "");
                digits += static_cast<char>('1' + byte() % 9);
                for (int i = 0, n = 19 + byte() % 30; i < n; ++i) {
                    if ((k & 64) && i % 3 == 0) digits += '_';
                    digits += static_cast<char>('0' + byte() % 10);
                }
                return torvex::Value::big_int(std::move(digits));
            }
            case 5:
            case 6: return torvex::Value::string(text());
            case 7: {
                torvex::Sequence items;
                for (int i = 0, n = byte() % 6; i < n; ++i) items.push_back(value(depth + 1));
                return torvex::Value::sequence(std::move(items));
            }
            case 8: {
                torvex::Mapping entries;
                for (int i = 0, n = byte() % 6; i < n; ++i) {
                    torvex::Value key = value(depth + 1);
                    entries.push_back({std::move(key), value(depth + 1)});
                }
                return torvex::Value::mapping(std::move(entries));
            }
            default: {
                static const char* const kTags[] = {"!t", "!", "!!str", "tag:example.com,2000:x", "!a/b%20c", "!<x>"};
                return torvex::Value::tagged(kTags[byte() % 6], value(depth + 1));
            }
        }
    }

private:
    std::string text() {
        static const char* const kPieces[] = {
            "yes", "No", "~", "null", "true", ".inf", "-.Inf", ".NaN", "0x1F", "0o17", "1_000", "1:30", "012",
            "...", "---", "<<", "=", "y", ": ", " #", "\n", "\n\n", "\t", "\r\n", "\u0085", "\u2028", "\u2029",
            "\ufeff", "\uffff", "\u0080", "é", "😀"};
        std::string s;
        for (int i = 0, n = byte() % 24; i < n; ++i) {
            const std::uint8_t c = byte();
            if (c < 0x80)
                s += static_cast<char>(c);
            else if (c >= 0xF0)
                s.append(static_cast<std::size_t>(c - 0xEE) * 10, c & 1 ? ' ' : 'w');  // long runs for folding
            else
                s += kPieces[c % 32];
        }
        return s;
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
    std::size_t nodes_ = 0;
};

}  // namespace torvex_fuzz
