#include "ffi/roundtrip_load.hpp"

#include <memory>
#include <utility>

#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/schema_check.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "ffi/warnings.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/passes.hpp"

namespace torvex::ffi {

namespace {

std::optional<NullStyle> assigned_null_style(const LoadOptions& options) {
    const bool keyword = options.has(OPT_NULL_AS_KEYWORD);
    const bool tilde = options.has(OPT_NULL_AS_TILDE);
    if (keyword && tilde) {
        PyErr_SetString(PyExc_ValueError, "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive");
        return std::nullopt;
    }
    if (keyword) return NullStyle::Keyword;
    if (tilde) return NullStyle::Tilde;
    return NullStyle::Empty;
}

}  // namespace

PyObject* load_round_trip(std::string text, const LoadOptions& options) {
    const auto null_style = assigned_null_style(options);
    if (!null_style) return nullptr;

    auto composed = rt::compose_stream(std::move(text), 0);
    if (!composed.ok()) return raise_error(composed.error());
    rt::ComposedStream stream = std::move(composed).value();

    if (options.has(OPT_YAML_1_1_WARN) && options.yaml11) {
        for (const std::string& warning : rt::version_warnings(stream.roots, options.mode)) log_warning(warning);
    }
    if (options.has(OPT_UPGRADE_1_1)) rt::upgrade_to_1_2(stream.roots, options.mode);
    if (options.has(OPT_DUPLICATE_KEYS_ERROR)) {
        const Result<void> checked = rt::check_duplicate_keys(stream.roots, options.mode);
        if (!checked.ok()) return raise_error(checked.error());
    } else if (options.has(OPT_DUPLICATE_KEYS_WARN)) {
        for (const std::string& warning : rt::duplicate_key_warnings(stream.roots, options.mode)) log_warning(warning);
    }
    if (!validate_first_document(options, stream.roots, {})) return nullptr;

    auto container = std::make_unique<rt::DocumentContainer>();
    container->documents = std::move(stream.roots);
    container->stores.push_back(std::move(stream.store));
    container->prefer_double_quotes = !options.has(OPT_SINGLE_QUOTES);
    container->version_header = options.has(OPT_UPGRADE_1_1);
    container->null_style = *null_style;
    return new_document(std::move(container)).release();
}

}  // namespace torvex::ffi
