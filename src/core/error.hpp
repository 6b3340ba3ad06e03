// Engine failures are values: every stage returns an Error record instead of
// throwing, and only the Python boundary turns one into an exception.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/span.hpp"

namespace torvex {

enum class ErrorKind : std::uint8_t {
    // scanner, parser, value decoder and round-trip composer
    Syntax,
    DuplicateKey,
    ComplexKey,
    // directive loader, in the order of the directive error record
    IncludeNotFound,
    CircularInclude,
    IncludeDepth,
    IncludeConfinement,
    SecretNotFound,
    EnvVarNotFound,
    DirectiveOther,
    // schema validation
    Schema,
    // conversion to and from Python values, emitters
    Unhashable,
    Unserializable,
    Encode,
    // input bytes that are not valid UTF-8/16/32 (a ValueError for callers)
    InvalidText,
};

// One entry of an include chain: the including file and the 0-based line of
// its include directive.
struct IncludeFrame {
    std::string path;
    std::uint32_t line = 0;
};

struct Error {
    ErrorKind kind = ErrorKind::Syntax;
    std::string message;                     // short phrase, no final period
    std::optional<Span> span;                // where it happened, when known
    std::optional<std::string> file;         // source path, when not the call's own text
    std::vector<IncludeFrame> include_stack; // directive errors only
    std::string schema_path;                 // schema errors only

    static Error at(ErrorKind kind, std::string message, Span span) {
        Error e;
        e.kind = kind;
        e.message = std::move(message);
        e.span = span;
        return e;
    }
    static Error plain(ErrorKind kind, std::string message) {
        Error e;
        e.kind = kind;
        e.message = std::move(message);
        return e;
    }
};

}  // namespace torvex
