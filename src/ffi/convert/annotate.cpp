#include "ffi/convert/annotate.hpp"

#include <string_view>
#include <utility>

#include "core/stack_guard.hpp"
#include "decode/decoder.hpp"
#include "directives/plain_files.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/annotated.hpp"
#include "roundtrip/reading.hpp"

namespace torvex::ffi {

namespace {

class Converter {
public:
    Converter(const rt::YamlNode& root, const ComposedConversion& options)
        : reader_(root, options.mode),
          options_(options),
          shared_(options.shared != nullptr ? *options.shared : own_shared_),
          scalars_(shared_) {
        context_.tags = options.tags;
        context_.tag_handler = options.tag_handler;
        context_.passthrough = options.passthrough;
    }

    PyRef value(const rt::YamlNode& node, std::size_t depth) {
        // Nodes converted again through aliases are counted, as the decoder
        // counts the nodes it copies: a hostile document cannot make the
        // converter build more objects than the decoder would.
        if (in_alias_ != 0 && ++expanded_ > kMaxExpandedNodes) return too_many_nodes();
        if (!shared_.pulse()) return PyRef();
        if (node.source && node.source->plain) return plain_content(*node.source->plain);
        PyRef made;
        switch (node.kind) {
            case rt::NodeKind::Alias: return alias(node, depth, false);
            case rt::NodeKind::Scalar:
            case rt::NodeKind::Null: made = scalar(node); break;
            case rt::NodeKind::Sequence:
                made = with_stack_at(depth, [&] { return sequence(node, node, nullptr, depth); });
                break;
            case rt::NodeKind::Mapping: made = with_stack_at(depth, [&] { return mapping(node, depth); }); break;
        }
        if (made && !node.tag.empty()) made = dispatch_tag(node, std::move(made));
        if (options_.free_converted && node.is_collection()) free_children(node);
        return made;
    }

private:
    // A converted collection's children go (see ComposedConversion::
    // free_converted): each of them lost its own children when it was
    // converted, so this frees one level. The tree is the caller's, reached
    // through const references only for reading.
    static void free_children(const rt::YamlNode& node) noexcept {
        const rt::NodeList dropped = std::move(const_cast<rt::YamlNode&>(node).children);
    }

    // Content an included file left on the plain decoder's tape (only plain
    // loads have any): converted as the plain pipeline converts it. Reached
    // through an alias, it counts every node it expands to.
    PyRef plain_content(const rt::PlainContent& content) {
        const Tape& tape = content.file->stream.tape;
        if (in_alias_ != 0) {
            expanded_ += tape.end_of(content.index) - content.index - 1;
            if (expanded_ > kMaxExpandedNodes) return too_many_nodes();
        }
        return to_python(tape, content.index, context_);
    }

    // ---- annotations ----

    PyObject* file_for(const Span& span) {
        const std::vector<std::string>* paths = options_.file_paths;
        if (paths == nullptr || span.file_id >= paths->size()) return Py_None;
        if (files_.size() < paths->size()) files_.resize(paths->size());
        PyRef& file = files_[span.file_id];
        if (!file) file = make_str((*paths)[span.file_id]);
        return file.get();  // null with the error set when the path is not UTF-8
    }

    bool annotation(const rt::YamlNode& node, AnnotationValues& out) {
        PyObject* file = file_for(node.span);
        if (file == nullptr) return false;
        out.file = file == Py_None ? nullptr : file;
        // A node starts at its properties (`&a`, `!t`) where it has any.
        Span start = node.span;
        if (node.comments.has_texts()) {
            if (const auto properties = node.comments.properties(); properties && properties->offset < start.offset) {
                start = *properties;
            }
        }
        out.line = start.line + 1;
        out.column = start.column + 1;
        out.end_line = node.end_line + 1;
        out.end_column = node.end_column + 1;
        out.offset = start.offset;
        out.end_offset = node.end_offset;
        if (node.source) {
            if (!source_texts(node)) return false;
            out.source_tag = source_tag_.get();
            out.source_target = source_target_.get();
        }
        return true;
    }

    bool source_texts(const rt::YamlNode& node) {
        source_tag_ = make_str(node.source->tag);
        if (!source_tag_) return false;
        source_target_ = make_str(node.source->target);
        return static_cast<bool>(source_target_);
    }

    static ScalarStyle style_of(const rt::YamlNode& node) {
        return node.kind == rt::NodeKind::Null ? ScalarStyle::Plain : node.scalar_style;
    }

    PyRef annotated_scalar(ScalarClass which, PyRef plain, const rt::YamlNode& node) {
        if (!plain) return plain;
        AnnotationValues a;
        if (!annotation(node, a)) return PyRef();
        return scalars_.value(which, std::move(plain), a, style_of(node));
    }

    PyRef annotated_str(std::string_view text, const rt::YamlNode& node) {
        AnnotationValues a;
        if (!annotation(node, a)) return PyRef();
        return scalars_.str(text, a, style_of(node));
    }

    // ---- values ----

    PyRef scalar(const rt::YamlNode& node) {
        const Resolved r = reader_.resolve(node);
        const bool annotate = options_.annotate;
        switch (r.kind) {
            case ResolvedKind::Null: return PyRef::borrow(Py_None);
            case ResolvedKind::Bool: return PyRef::borrow(r.boolean ? Py_True : Py_False);
            case ResolvedKind::Int: {
                PyRef number = PyRef::steal(PyLong_FromLongLong(r.integer));
                if (!annotate || !options_.annotate_numbers) return number;
                return annotated_scalar(ScalarClass::Int, std::move(number), node);
            }
            case ResolvedKind::BigInt: {
                PyRef number = make_big_int(node.text.str());
                if (!annotate || !number) return number;
                if (PyLong_Check(number.get())) {
                    if (!options_.annotate_numbers) return number;
                    return annotated_scalar(ScalarClass::Int, std::move(number), node);
                }
                return annotated_scalar(ScalarClass::Str, std::move(number), node);
            }
            case ResolvedKind::Float: {
                PyRef number = PyRef::steal(PyFloat_FromDouble(r.floating));
                if (!annotate || !options_.annotate_numbers) return number;
                return annotated_scalar(ScalarClass::Float, std::move(number), node);
            }
            case ResolvedKind::Str:
            case ResolvedKind::Merge: break;
        }
        // A merge marker outside a mapping key reads as the text "<<".
        const std::string_view text = r.kind == ResolvedKind::Merge ? std::string_view("<<") : node.text.str();
        if (!annotate) return make_str(text);
        return annotated_str(text, node);
    }

    PyRef alias(const rt::YamlNode& node, std::size_t depth, bool as_key) {
        const rt::YamlNode* target = reader_.follow(node);
        if (target == nullptr) return unknown_alias(node);
        ++in_alias_;
        PyRef made = with_stack_at(depth, [&] { return as_key ? key(*target, depth + 1) : value(*target, depth + 1); });
        --in_alias_;
        return made;
    }

    // An alias with no anchor before it fails as the decoder fails on it; a
    // load that ran the decoder first never gets here, and one that did not
    // (plain objects with directives) must not read it as null.
    PyRef unknown_alias(const rt::YamlNode& node) {
        Error error = Error::at(ErrorKind::Syntax, "unknown alias: *" + node.text.string(), node.span);
        const std::vector<std::string>* paths = options_.file_paths;
        if (node.span.file_id != 0 && paths != nullptr && node.span.file_id < paths->size()) {
            error.file = (*paths)[node.span.file_id];
        }
        raise_error(error);
        return PyRef();
    }

    PyRef too_many_nodes() {
        raise_error(Error::plain(ErrorKind::Syntax, "document expands to too many nodes (possible alias bomb)"));
        return PyRef();
    }

    // `items`: the subset to keep (a merge value's non-mapping items), or null for all.
    PyRef sequence(const rt::YamlNode& at, const rt::YamlNode& node, const std::vector<const rt::YamlNode*>* items,
                   std::size_t depth) {
        const std::size_t size = items != nullptr ? items->size() : node.children.size();
        auto item_at = [&](std::size_t i) -> const rt::YamlNode& {
            return items != nullptr ? *(*items)[i] : node.children[i];
        };
        if (!options_.annotate) {
            PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(size)));
            if (!list) return list;
            for (std::size_t i = 0; i < size; ++i) {
                PyRef item = value(item_at(i), depth + 1);
                if (!item) return item;
                PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
            }
            return list;
        }
        AnnotationValues a;
        if (!annotation(at, a)) return PyRef();
        PyRef list = new_annotated_list(a);
        if (!list) return list;
        shared_.untracked.hold(list.get());
        for (std::size_t i = 0; i < size; ++i) {
            PyRef item = value(item_at(i), depth + 1);
            if (!item || PyList_Append(list.get(), item.get()) < 0) return PyRef();
        }
        return list;
    }

    PyRef mapping(const rt::YamlNode& node, std::size_t depth) {
        PyRef dict;
        if (options_.annotate) {
            AnnotationValues a;
            if (!annotation(node, a)) return PyRef();
            dict = new_annotated_dict(a);
        } else {
            dict = PyRef::steal(PyDict_New());
        }
        if (!dict || !fill_mapping(dict.get(), node, depth)) return PyRef();
        if (options_.annotate) shared_.untracked.hold(dict.get());  // once filled: see UntrackedWhileBuilding
        return dict;
    }

    bool fill_mapping(PyObject* dict, const rt::YamlNode& node, std::size_t depth) {
        if (!merges(node)) {
            for (std::size_t i = 0; i < node.size(); ++i) {
                if (!set_item(dict, node.key(i), node.value(i), nullptr, depth)) return false;
            }
            return true;
        }
        for (const rt::ReadEntry& entry : reader_.entries(node, depth)) {
            const std::vector<const rt::YamlNode*>* items = entry.items ? &*entry.items : nullptr;
            if (!set_item(dict, *entry.key, *entry.value, items, depth)) return false;
        }
        return true;
    }

    bool set_item(PyObject* dict, const rt::YamlNode& key_node, const rt::YamlNode& value_node,
                  const std::vector<const rt::YamlNode*>* items, std::size_t depth) {
        PyRef k = key(key_node, depth + 1);
        if (!k) return false;
        PyRef v = items != nullptr ? sequence(value_node, value_node, items, depth + 1) : value(value_node, depth + 1);
        if (!v) return false;
        return set_mapping_item(dict, k.get(), v.get());
    }

    // ---- keys ----

    // A mapping key: scalars like values (annotated strings in annotated
    // mode, cached interned strings otherwise), collections as plain (nested)
    // tuples; a custom tag that someone handles makes it a value.
    PyRef key(const rt::YamlNode& node, std::size_t depth) {
        if (!shared_.pulse()) return PyRef();
        if (node.kind == rt::NodeKind::Alias) return alias(node, depth, true);
        if (!node.tag.empty()) {
            // A tag nobody handles is dropped; the key reads like its untagged form.
            const rt::ReadTag t = reader_.tag(node);
            if (t.custom() && tag_is_handled(*t.full, context_)) return value(node, depth);
        }
        switch (node.kind) {
            case rt::NodeKind::Scalar:
            case rt::NodeKind::Null:
                if (!options_.annotate && node.kind == rt::NodeKind::Scalar) {
                    const Resolved r = reader_.resolve(node);
                    if (r.kind == ResolvedKind::Str) return PyRef::steal(context_.keys.get(node.text.str()));
                }
                return scalar(node);
            case rt::NodeKind::Sequence:
            case rt::NodeKind::Mapping: return with_stack_at(depth, [&] { return key_tuple(node, depth); });
            case rt::NodeKind::Alias: break;
        }
        return PyRef::borrow(Py_None);
    }

    // Inside a tuple key everything is plain, whatever the mode.
    PyRef plain_key(const rt::YamlNode& node, std::size_t depth) {
        const bool annotate = options_.annotate;
        options_.annotate = false;
        PyRef made = key(node, depth);
        options_.annotate = annotate;
        return made;
    }

    PyRef key_tuple(const rt::YamlNode& node, std::size_t depth) {
        if (node.kind == rt::NodeKind::Sequence) return items_tuple(node.children, depth);
        std::vector<rt::ReadEntry> entries;
        if (merges(node)) {
            entries = reader_.entries(node, depth);
        } else {
            for (std::size_t i = 0; i < node.size(); ++i) entries.push_back({&node.key(i), &node.value(i), std::nullopt, false});
        }
        PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(entries.size())));
        if (!tuple) return tuple;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            PyRef k = plain_key(*entries[i].key, depth + 1);
            if (!k) return k;
            PyRef v;
            if (entries[i].items) {
                std::vector<const rt::YamlNode*>& items = *entries[i].items;
                v = with_stack_at(depth, [&] { return items_tuple(items, depth + 1); });
            } else {
                v = plain_key(*entries[i].value, depth + 1);
            }
            if (!v) return v;
            PyObject* pair = PyTuple_Pack(2, k.get(), v.get());
            if (pair == nullptr) return PyRef();
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair);
        }
        return tuple;
    }

    template <class Items>
    PyRef items_tuple(const Items& items, std::size_t depth) {
        PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
        if (!tuple) return tuple;
        for (std::size_t i = 0; i < items.size(); ++i) {
            PyRef item = plain_key(item_node(items[i]), depth + 1);
            if (!item) return item;
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item.release());
        }
        return tuple;
    }
    static const rt::YamlNode& item_node(const rt::YamlNode& node) { return node; }
    static const rt::YamlNode& item_node(const rt::YamlNode* node) { return *node; }

    bool merges(const rt::YamlNode& mapping) const {
        return options_.merge_keys && reader_.has_merge_keys(mapping);
    }

    // ---- tags ----

    PyRef dispatch_tag(const rt::YamlNode& node, PyRef made) {
        const rt::ReadTag t = reader_.tag(node);
        if (!t.custom()) return made;
        return apply_tag(*t.full, std::move(made), context_);
    }

    rt::DocumentReader reader_;
    ComposedConversion options_;  // a copy: `annotate` is switched off inside tuple keys
    DecodeContext context_;
    std::vector<PyRef> files_;
    PyRef source_tag_;
    PyRef source_target_;
    std::uint64_t expanded_ = 0;  // nodes converted through aliases
    std::size_t in_alias_ = 0;
    // Declared late: tracks again before the rest is torn down, but for the
    // scalar maker, which holds nothing but cached line numbers.
    ConversionShared own_shared_;
    ConversionShared& shared_;
    AnnotatedScalars scalars_;
};

}  // namespace

PyRef convert_composed(rt::YamlNode& root, const ComposedConversion& options) {
    Converter converter(root, options);
    return converter.value(root, 0);
}

}  // namespace torvex::ffi
