// Merge keys (`<<`), applied after decoding, children first. Explicit keys
// win over merged ones wherever they stand; among merge sources the earlier
// wins; merged entries follow the mapping's own entries.
#include <unordered_set>

#include "core/stack_guard.hpp"
#include "decode/key_identity.hpp"
#include "decode/stream_decoder.hpp"

namespace torvex {

namespace {

bool is_merge_marker(const Value& v) {
    return v.kind() == Value::Kind::Tagged && v.as_tagged().tag == "tag:yaml.org,2002:merge";
}

void merge_entries_from(Mapping& source, Mapping& into, std::unordered_set<std::string>& keys) {
    for (MapEntry& entry : source) {
        if (keys.insert(key_identity(entry.key)).second) into.push_back(std::move(entry));
    }
}

void merge_into(Mapping& entries) {
    Mapping kept;
    std::vector<Value> sources;
    for (MapEntry& entry : entries) {
        if (is_merge_marker(entry.key)) {
            sources.push_back(std::move(entry.value));
        } else {
            kept.push_back(std::move(entry));
        }
    }
    std::unordered_set<std::string> keys;
    for (const MapEntry& entry : kept) keys.insert(key_identity(entry.key));
    Mapping leftovers;
    for (Value& source : sources) {
        switch (source.kind()) {
            case Value::Kind::Null: break;
            case Value::Kind::Mapping: merge_entries_from(source.as_mapping(), kept, keys); break;
            case Value::Kind::Sequence: {
                Sequence others;
                for (Value& element : source.as_sequence()) {
                    if (element.kind() == Value::Kind::Mapping) {
                        merge_entries_from(element.as_mapping(), kept, keys);
                    } else {
                        others.push_back(std::move(element));
                    }
                }
                if (!others.empty()) leftovers.push_back({Value::string("<<"), Value::sequence(std::move(others))});
                break;
            }
            default: leftovers.push_back({Value::string("<<"), std::move(source)}); break;
        }
    }
    for (MapEntry& entry : leftovers) kept.push_back(std::move(entry));
    entries = std::move(kept);
}

void apply(Value& v) {
    switch (v.kind()) {
        case Value::Kind::Sequence:
            with_stack([&] {
                for (Value& item : v.as_sequence()) apply(item);
            });
            return;
        case Value::Kind::Tagged:
            if (is_merge_marker(v)) {
                v = Value::string("<<");
                return;
            }
            with_stack([&] { apply(*v.as_tagged().inner); });
            return;
        case Value::Kind::Mapping:
            with_stack([&] {
                Mapping& entries = v.as_mapping();
                bool has_merge = false;
                for (MapEntry& entry : entries) {
                    if (is_merge_marker(entry.key)) {
                        has_merge = true;
                    } else {
                        apply(entry.key);
                    }
                    apply(entry.value);
                }
                if (has_merge) merge_into(entries);
            });
            return;
        default: return;
    }
}

}  // namespace

void apply_merge_keys(Value& document) { apply(document); }

}  // namespace torvex
