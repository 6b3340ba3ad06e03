#include "ffi/roundtrip_load.hpp"

#include <memory>
#include <utility>

#include "decode/tape.hpp"
#include "ffi/args.hpp"
#include "ffi/composed_load.hpp"
#include "ffi/directive_load.hpp"
#include "ffi/errors.hpp"
#include "ffi/options.hpp"
#include "ffi/schema_check.hpp"
#include "ffi/types/roundtrip_objects.hpp"
#include "ffi/warnings.hpp"
#include "roundtrip/composer.hpp"
#include "roundtrip/passes.hpp"

namespace torvex::ffi {

PyObject* load_round_trip(std::string text, const LoadOptions& options) {
    const auto null_style = null_style_from_bits(options.option);  // for values assigned later
    if (!null_style) return nullptr;

    // Texts the composer does not vouch for go through the decoder for its
    // syntax errors. A document keeps aliases as written (one may name no
    // anchor, or expand without bound, as edits can make them), and the
    // complex-key policy is not one of its rules.
    DecodeOptions error_checks = error_only_decoding(options);
    error_checks.reject_complex_keys = false;
    error_checks.aliases_unchecked = true;

    auto container = std::make_unique<rt::DocumentContainer>();
    if (uses_directives(options)) {
        auto load = load_directives(std::move(text), options);
        if (!load) return nullptr;
        if (!surface_unvouched_errors(load->files.stores, load->files.paths, load->files.decoder_vouched,
                                      error_checks)) {
            return nullptr;
        }
        container->documents = std::move(load->roots);
        container->file_paths = std::move(load->files.paths);
        container->file_sources.reserve(load->files.stores.size());
        for (const auto& store : load->files.stores) container->file_sources.emplace_back(store->text);
        container->stores = std::move(load->files.stores);
    } else {
        auto composed = rt::compose_stream(std::move(text), 0);
        if (!composed.ok()) return raise_error(composed.error());
        rt::ComposedStream stream = std::move(composed).value();
        if (!stream.decoder_accepts) {
            auto checked = decode_tape(stream.store->text, 0, error_checks);
            if (!checked.ok()) return raise_error(checked.error());
        }
        container->documents = std::move(stream.roots);
        container->stores.push_back(std::move(stream.store));
    }
    std::vector<rt::YamlNode>& roots = container->documents;

    if (options.has(OPT_YAML_1_1_WARN) && options.yaml11) {
        for (const std::string& warning : rt::version_warnings(roots, options.mode, container->file_paths))
            log_warning(warning);
    }
    if (options.has(OPT_UPGRADE_1_1)) rt::upgrade_to_1_2(roots, options.mode);
    if (options.has(OPT_DUPLICATE_KEYS_ERROR)) {
        const Result<void> checked = rt::check_duplicate_keys(roots, options.mode, container->file_paths);
        if (!checked.ok()) return raise_error(checked.error());
    } else if (options.has(OPT_DUPLICATE_KEYS_WARN)) {
        for (const std::string& warning : rt::duplicate_key_warnings(roots, options.mode, container->file_paths))
            log_warning(warning);
    }
    if (!validate_first_document(options, roots, container->file_paths)) return nullptr;

    container->prefer_double_quotes = !options.has(OPT_SINGLE_QUOTES);
    container->version_header = options.has(OPT_UPGRADE_1_1);
    container->null_style = *null_style;
    return new_document(std::move(container)).release();
}

}  // namespace torvex::ffi
