// Tokenizer: splits a template source into data, tags and expression tokens, applying the
// whitespace rules (`-`/`+` markers, trim_blocks, lstrip_blocks) and raw blocks on the way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jinja/jinja.hpp"

namespace zelk::jinja::detail {

enum class Tok : std::uint8_t {
    Data,
    VarBegin,
    VarEnd,
    BlockBegin,
    BlockEnd,
    Name,
    String,
    Int,
    Float,
    Op,
    Eof
};

struct Token {
    Tok kind;
    std::uint32_t line;
    std::string_view text;  // source text (data, name, operator)
    std::string str;        // decoded string literal
    std::int64_t i = 0;
    double f = 0.0;
};

struct LexerConfig {
    std::string_view variable_start;
    std::string_view variable_end;
    bool trim_blocks = false;
    bool lstrip_blocks = false;
};

// Tokenizes `source` (which must outlive the tokens); lexical errors carry their line.
Result<std::vector<Token>> tokenize(std::string_view source, const LexerConfig& config);

}  // namespace zelk::jinja::detail
