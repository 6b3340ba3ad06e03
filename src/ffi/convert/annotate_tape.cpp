#include "ffi/convert/annotate_tape.hpp"

#include <cstdint>
#include <utility>

#include "core/stack_guard.hpp"
#include "ffi/errors.hpp"
#include "ffi/types/annotated.hpp"

namespace torvex::ffi {

namespace {

class PlacedConverter {
public:
    PlacedConverter(const Tape& tape, const std::vector<TapePlace>& places, const PlacedConversion& options)
        : nodes_(tape.nodes),
          places_(places),
          annotate_numbers_(options.annotate_numbers),
          context_(*options.context),
          shared_(*options.shared),
          scalars_(shared_) {}

    // The node at `i`, `depth` collections below the root; `i` moves past it.
    PyRef convert(std::size_t& i, std::size_t depth) {
        if (!shared_.pulse()) return PyRef();
        const std::size_t at = i++;
        const TapeNode& node = nodes_[at];
        switch (node.kind()) {
            case TapeNode::Kind::Null: return PyRef::borrow(Py_None);
            case TapeNode::Kind::Bool: return PyRef::borrow(node.integer != 0 ? Py_True : Py_False);
            case TapeNode::Kind::Int: return number(PyRef::steal(PyLong_FromLongLong(node.integer)), at);
            case TapeNode::Kind::Float: return number(PyRef::steal(PyFloat_FromDouble(node.floating)), at);
            case TapeNode::Kind::BigInt: {
                PyRef made = make_big_int(node.text_view());
                // A big int CPython refuses stays text: an annotated str.
                if (made && !PyLong_Check(made.get())) return scalar(ScalarClass::Str, std::move(made), at);
                return number(std::move(made), at);
            }
            case TapeNode::Kind::String: {
                const AnnotationValues a = values(at);
                return scalars_.str(node.text_view(), a, places_[at].style);
            }
            case TapeNode::Kind::Sequence: return with_stack_at(depth, [&] { return sequence(node, at, i, depth + 1); });
            case TapeNode::Kind::Mapping: return with_stack_at(depth, [&] { return mapping(node, at, i, depth + 1); });
            case TapeNode::Kind::Tagged: return with_stack([&] { return tagged(node, i, depth + 1); });
        }
        set_internal_error("unknown value kind");
        return PyRef();
    }

private:
    AnnotationValues values(std::size_t at) const noexcept {
        const TapePlace& p = places_[at];
        AnnotationValues a;
        a.line = p.line + 1;
        a.column = p.column + 1;
        a.end_line = p.end_line + 1;
        a.end_column = p.end_column + 1;
        a.offset = p.offset;
        a.end_offset = p.end_offset;
        return a;  // one text: no file, and no directive made it
    }

    PyRef scalar(ScalarClass which, PyRef plain, std::size_t at) {
        if (!plain) return plain;
        return scalars_.value(which, std::move(plain), values(at), places_[at].style);
    }

    // Numbers are annotated only when asked to be.
    PyRef number(PyRef plain, std::size_t at) {
        if (!annotate_numbers_ || !plain) return plain;
        const ScalarClass which = PyFloat_Check(plain.get()) ? ScalarClass::Float : ScalarClass::Int;
        return scalar(which, std::move(plain), at);
    }

    PyRef sequence(const TapeNode& node, std::size_t at, std::size_t& i, std::size_t depth) {
        PyRef list = new_annotated_list(values(at));
        if (!list) return list;
        shared_.untracked.hold(list.get());
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            PyRef item = convert(i, depth);
            if (!item || PyList_Append(list.get(), item.get()) < 0) return PyRef();
        }
        return list;
    }

    PyRef mapping(const TapeNode& node, std::size_t at, std::size_t& i, std::size_t depth) {
        PyRef dict = new_annotated_dict(values(at));
        if (!dict) return dict;
        for (std::uint64_t n = 0; n < node.size(); ++n) {
            PyRef k = key(i, depth);
            if (!k) return k;
            PyRef v = convert(i, depth);
            if (!v) return v;
            if (!set_mapping_item(dict.get(), k.get(), v.get())) return PyRef();
        }
        shared_.untracked.hold(dict.get());  // once filled: see UntrackedWhileBuilding
        return dict;
    }

    // A key reads like a value, but a tag nobody handles is dropped. The
    // direct reader gives way at collection keys, so none arrive here.
    PyRef key(std::size_t& i, std::size_t depth) {
        const TapeNode& node = nodes_[i];
        if (node.is_collection()) {
            set_internal_error("a collection key on an annotated tape");
            return PyRef();
        }
        if (node.kind() == TapeNode::Kind::Tagged && !tag_is_handled(node.text_view(), context_)) {
            ++i;
            return key(i, depth);
        }
        return convert(i, depth);
    }

    PyRef tagged(const TapeNode& node, std::size_t& i, std::size_t depth) {
        PyRef inner = convert(i, depth);
        if (!inner) return inner;
        return apply_tag(node.text_view(), std::move(inner), context_);
    }

    const std::vector<TapeNode>& nodes_;
    const std::vector<TapePlace>& places_;
    bool annotate_numbers_;
    DecodeContext& context_;
    ConversionShared& shared_;
    AnnotatedScalars scalars_;
};

}  // namespace

PyRef convert_placed(const Tape& tape, const std::vector<TapePlace>& places, std::size_t root,
                     const PlacedConversion& options) {
    PlacedConverter converter(tape, places, options);
    return converter.convert(root, 0);
}

}  // namespace torvex::ffi
