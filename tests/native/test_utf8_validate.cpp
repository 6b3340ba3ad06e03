// The block-wise UTF-8 check against the one-sequence-at-a-time reference
// (validate_scalar): the same verdict and, on a fault, the same index and
// length. Texts end at an inaccessible page, so a read past the end faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/utf8.hpp"
#include "guarded_bytes.hpp"

namespace torvex {
namespace {

using testing_guard::Guarded;

// A text placed so that it ends where an inaccessible page begins.
class PageEnd {
public:
    std::string_view place(const std::string& text) {
        unsigned char* at = buffer_.data() + buffer_.size() - text.size();
        std::copy(text.begin(), text.end(), at);
        return {reinterpret_cast<const char*>(at), text.size()};
    }

private:
    Guarded<unsigned char> buffer_{4096};
};

// The same verdict and, on a fault, the same report; returns whether the
// text has a fault.
bool expect_agreement(PageEnd& page, const std::string& text) {
    const std::string_view placed = page.place(text);
    const auto expected = utf8::validate_scalar(placed);
    auto agree = [&](const std::optional<utf8::Utf8Fault>& got, const char* kernel) {
        EXPECT_EQ(got.has_value(), expected.has_value()) << kernel << ": " << testing::PrintToString(text);
        if (!got || !expected) return;
        EXPECT_EQ(got->index, expected->index) << kernel << ": " << testing::PrintToString(text);
        EXPECT_EQ(got->length, expected->length) << kernel << ": " << testing::PrintToString(text);
        EXPECT_EQ(got->describe(), expected->describe());
    };
    agree(utf8::validate(placed), "chosen");
    agree(utf8::validate_sse2(placed), "16-byte");
#if TORVEX_UTF8_AVX2
    if (utf8::has_avx2()) agree(utf8::validate_avx2(placed), "64-byte");
#endif
    return expected.has_value();
}

// Leads of every width and the bytes that can never lead; second bytes at
// the edges of every range the lead restricts; later bytes in and out of
// the continuation range.
const unsigned char kLeads[] = {0x80, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED,
                                0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFF};
const unsigned char kSeconds[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xE0, 0xF0};
const unsigned char kLaters[] = {0x41, 0x80, 0xBF, 0xC2};

// `size` bytes of valid non-ASCII characters (size != 1): blocks follow one
// another through them without an ASCII skip realigning the next one.
std::string non_ascii_run(std::size_t size) {
    std::string run = size % 2 == 1 ? "\xE6\x9D\xB1" : "";
    while (run.size() < size) run += "\xC3\xA9";
    return run;
}

TEST(Utf8Validate, EverySequenceClassAtEveryBlockLane) {
    std::vector<std::string> sequences;
    for (const unsigned char lead : kLeads) {
        for (const unsigned char second : kSeconds) {
            for (const unsigned char third : kLaters) {
                for (const unsigned char fourth : kLaters) {
                    sequences.push_back(std::string{static_cast<char>(lead), static_cast<char>(second),
                                                    static_cast<char>(third), static_cast<char>(fourth)});
                }
            }
        }
    }
    // Blocks start at the first non-ASCII byte after ASCII (16-byte blocks)
    // or at the text's start (64-byte blocks), so the lane a sequence lands
    // on is set by the text before it: a non-ASCII run of every length over
    // four 16-byte blocks and past a 64-byte one, and one character then
    // ASCII. The ASCII tail makes every text long enough for 64-byte blocks. Each
    // sequence is cut to 1..4 bytes (the short ones truncated where a longer
    // one was announced); then the text ends, goes on in ASCII, or goes on
    // in non-ASCII characters.
    std::vector<std::string> prefixes;
    for (std::size_t size = 0; size < 72; ++size) {
        if (size != 1) prefixes.push_back(non_ascii_run(size));
    }
    for (std::size_t gap = 1; gap < 18; ++gap) prefixes.push_back("\xC3\xA9" + std::string(gap, 'a'));
    prefixes.push_back(std::string(37, 'a'));
    const std::string tails[] = {"", std::string(64, 'z'), non_ascii_run(20)};
    PageEnd page;
    std::size_t faults = 0, valid = 0;
    for (const std::string& sequence : sequences) {
        for (const std::string& prefix : prefixes) {
            for (std::size_t cut = 1; cut <= 4; ++cut) {
                for (const std::string& tail : tails) {
                    const bool fault = expect_agreement(page, prefix + sequence.substr(0, cut) + tail);
                    faults += fault;
                    valid += !fault;
                }
            }
        }
    }
    EXPECT_GT(faults, 0u);  // both verdicts are exercised
    EXPECT_GT(valid, 0u);
}

TEST(Utf8Validate, RandomTextsWithAndWithoutAFault) {
    // Valid characters of every width (including the edges of the ranges),
    // then sometimes one byte changed to a random value or the text cut;
    // and plain random bytes, mostly from the non-ASCII half.
    const std::vector<std::string> pieces = {
        "a", "aaaaaaaaaaaaaaaaaaaa", "\n", "\x7F", "\xC2\x80", "\xDF\xBF", "\xC3\xA9", "\xE0\xA0\x80",
        "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF", "\xE6\x9D\xB1", "\xF0\x90\x80\x80", "\xF0\x9F\x9A\x80",
        "\xF4\x8F\xBF\xBF"};
    std::mt19937 rng(11);
    PageEnd page;
    std::size_t faults = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const std::size_t count = rng() % 120;
        for (std::size_t k = 0; k < count; ++k) text += pieces[rng() % pieces.size()];
        if (!text.empty()) {
            switch (rng() % 5) {
                case 0: text[rng() % text.size()] = static_cast<char>(rng()); break;
                case 1: text.resize(rng() % text.size()); break;
                case 2:
                    for (char& c : text) c = static_cast<char>(rng() % 3 == 0 ? rng() % 0x80 : 0x80 + rng() % 0x80);
                    break;
                default: break;
            }
        }
        faults += expect_agreement(page, text);
    }
    EXPECT_GT(faults, 1000u);
}

}  // namespace
}  // namespace torvex
