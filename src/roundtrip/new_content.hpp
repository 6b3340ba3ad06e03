// Content assigned into a document takes the habits of the place it goes
// to: a string keeps the quotes of the scalar it replaces, or takes those its
// siblings use; a collection takes the flow or block style of the node it
// replaces or of its siblings; a block collection under a key is indented as
// its siblings (else the rest of the document) indent theirs.
#pragma once

#include "roundtrip/ast.hpp"

namespace torvex::rt {

// Fits `content` (a converted value, about to become `container`'s item or
// the value of a pair) to its place. `replaced` is the node it replaces, or
// null for a new pair; `new_key` the key of a new pair, or null. `root` is
// the document root, consulted when the siblings show no habit.
// `prefer_double_quotes` is the document's choice for texts that need quotes
// where the file shows none.
void fit_new_content(const YamlNode& root, const YamlNode& container, const YamlNode* replaced, YamlNode& content,
                     YamlNode* new_key, bool prefer_double_quotes);

}  // namespace torvex::rt
