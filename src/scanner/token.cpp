#include "scanner/token.hpp"

namespace torvex {

TokenList::~TokenList() {
    SpareBuffer<Token>::give(tokens_);
    SpareText::give(arena_);
}

const char* token_kind_name(TokenKind kind) noexcept {
    switch (kind) {
        case TokenKind::StreamStart: return "StreamStart";
        case TokenKind::StreamEnd: return "StreamEnd";
        case TokenKind::DocumentStart: return "DocumentStart";
        case TokenKind::DocumentEnd: return "DocumentEnd";
        case TokenKind::MappingStart: return "MappingStart";
        case TokenKind::MappingEnd: return "MappingEnd";
        case TokenKind::SequenceStart: return "SequenceStart";
        case TokenKind::SequenceEnd: return "SequenceEnd";
        case TokenKind::BlockEnd: return "BlockEnd";
        case TokenKind::Key: return "Key";
        case TokenKind::Value: return "Value";
        case TokenKind::SequenceEntry: return "SequenceEntry";
        case TokenKind::FlowEntry: return "FlowEntry";
        case TokenKind::Scalar: return "Scalar";
        case TokenKind::Anchor: return "Anchor";
        case TokenKind::Alias: return "Alias";
        case TokenKind::Tag: return "Tag";
        case TokenKind::Directive: return "Directive";
    }
    return "?";
}

}  // namespace torvex
