// Reading included files through the plain decoder, the nulls that stand for
// their content, and composing that content where the tree must hold it.
#include "directives/plain_files.hpp"

#include <cstring>
#include <utility>

#include "core/stack_guard.hpp"
#include "roundtrip/composer.hpp"

namespace torvex::directives::detail {

std::shared_ptr<const rt::PlainFile> read_plain(std::string_view text, std::uint32_t id, const DecodeOptions& options) {
    // A tag or a directive needs the composed tree: both start with `!`.
    if (std::memchr(text.data(), '!', text.size()) != nullptr) return nullptr;
    Result<DecodedTape> decoded = decode_tape(text, id, options);
    if (!decoded.ok()) return nullptr;
    DecodedTape& stream = decoded.value();
    // Warnings are reported from the composed tree, with its positions;
    // anchors and merge keys are read there too (an alias elsewhere may name
    // an anchor of this file).
    if (!stream.warnings.empty() || stream.has_merge_keys || stream.anchors != 0) return nullptr;
    return std::make_shared<const rt::PlainFile>(rt::PlainFile{id, std::move(stream)});
}

std::shared_ptr<const rt::PlainContent> plain_content(const std::shared_ptr<const rt::PlainFile>& file,
                                                      std::size_t index, std::size_t document,
                                                      rt::PlainContent::Step step, std::size_t position, bool placed,
                                                      bool carrier) {
    return std::make_shared<const rt::PlainContent>(
        rt::PlainContent{file, index, document, step, position, placed, carrier});
}

rt::YamlNode plain_node(const std::shared_ptr<const rt::PlainFile>& file, std::size_t index, std::size_t document,
                        rt::PlainContent::Step step, std::size_t position) {
    rt::YamlNode node = rt::YamlNode::null_node();
    node.span.file_id = file->id;
    node.source = std::make_unique<rt::IncludeSource>(rt::IncludeSource{{}, {}, std::nullopt});
    node.source->plain = plain_content(file, index, document, step, position, /*placed=*/false, /*carrier=*/true);
    return node;
}

namespace {

bool is_anchored(const rt::YamlNode& node) { return !node.anchor.empty(); }

// A key that may mark a merge in some mode: a `<<` or any tagged key (`!!merge`).
bool may_be_merge_key(const rt::YamlNode& key) {
    return !key.tag.empty() || (key.kind == rt::NodeKind::Scalar && key.text == "<<");
}

}  // namespace

Result<void> PlainContentComposer::compose_where_read(rt::YamlNode& node, bool needed, std::size_t depth) {
    needed = needed || is_anchored(node);
    if (node.source && node.source->plain) return needed ? compose(node) : Result<void>(Ok{});
    if (!node.is_collection()) return Ok{};
    return with_stack_at(depth, [&]() -> Result<void> {
        const bool mapping = node.kind == rt::NodeKind::Mapping;
        // Keys are composed nodes: no directive replaces a key.
        for (std::size_t i = mapping ? 1 : 0; i < node.children.size(); i += mapping ? 2 : 1) {
            const bool merged = mapping && may_be_merge_key(node.children[i - 1]);
            if (Result<void> done = compose_where_read(node.children[i], needed || merged, depth + 1); !done.ok())
                return done;
        }
        return Ok{};
    });
}

Result<const std::vector<rt::YamlNode>*> PlainContentComposer::documents(std::uint32_t id) {
    if (const auto found = composed_.find(id); found != composed_.end()) return &found->second;
    auto composed = rt::compose_stream(load_.files.stores[id]->text, id, /*with_comments=*/false);
    if (!composed.ok()) {
        // The decoder read this text, so the composer reads it too; should they ever part, the error stands.
        Error error = std::move(composed).error();
        error.kind = ErrorKind::DirectiveOther;
        error.file = load_.files.paths[id];
        return error;
    }
    rt::ComposedStream stream = std::move(composed).value();
    load_.extra_stores.push_back(std::move(stream.store));
    return &composed_.emplace(id, std::move(stream.roots)).first->second;
}

Result<void> PlainContentComposer::compose(rt::YamlNode& node) {
    const rt::PlainContent content = *node.source->plain;  // a copy: the source changes below
    auto found = documents(content.file->id);
    if (!found.ok()) return std::move(found).error();
    const rt::YamlNode& root = (*found.value())[content.document];
    const rt::YamlNode& at = content.step == rt::PlainContent::Step::Root   ? root
                             : content.step == rt::PlainContent::Step::Item ? root.children[content.position]
                                                                            : root.value(content.position);
    rt::YamlNode replacement = at.clone();
    // What the directive gave the node stays: its comments, anchor and record.
    replacement.comments = std::move(node.comments);
    replacement.anchor = std::move(node.anchor);
    if (!content.carrier) {
        replacement.source = std::move(node.source);
        replacement.source->plain.reset();
    }
    if (content.placed) {
        replacement.span = node.span;
        replacement.end_offset = node.end_offset;
        replacement.end_line = node.end_line;
        replacement.end_column = node.end_column;
    }
    node = std::move(replacement);
    return Ok{};
}

}  // namespace torvex::directives::detail
