// LoadOptions: the arguments of loads and loads_all, converted once per call,
// and the switches derived from them for the engine stages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decode/decoder.hpp"
#include "ffi/args.hpp"
#include "ffi/py_ref.hpp"
#include "resolver/resolve.hpp"

namespace torvex::ffi {

struct LoadOptions {
    std::uint64_t option = 0;
    std::optional<std::string> include_dir;
    std::optional<std::string> root_path;
    PyObject* schema = nullptr;  // borrowed from the call's arguments, as are the callables below
    PyObject* schema_resolver = nullptr;
    PyObject* tag_handler = nullptr;
    PyObject* tags = nullptr;
    PyObject* on_missing_secret = nullptr;
    PyObject* on_missing_env_var = nullptr;

    // Derived once the text is known.
    PyRef resolved_schema;  // the schema to validate against, if any
    bool yaml11 = false;
    ResolveMode mode = ResolveMode::Yaml12;

    bool has(std::uint64_t bits) const noexcept { return (option & bits) != 0; }
};

// Settles the schema (schema="auto" consults the text's modeline and the
// resolver). Returns false with the Python error set.
bool settle_schema(LoadOptions& options, std::string_view text);

// Chooses YAML 1.1 or 1.2 rules and the resolution mode: a %YAML directive in
// the text wins over the version options.
void settle_resolution(LoadOptions& options, std::string_view text);

// `tags` must be a dict or a dict subclass.
bool check_tags(const LoadOptions& options);

// The value decoder's options for the load: its mode, key policies and warnings.
DecodeOptions decode_options(const LoadOptions& options);

}  // namespace torvex::ffi
