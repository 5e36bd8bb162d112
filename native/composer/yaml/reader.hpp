#pragma once
// The YAML reader: libyaml's event stream turned into a syntax tree of nodes (scalars keep
// their text, style and tag; typing them is scalar.hpp's job). Reading is iterative, nesting
// is bounded and aliases are expanded within a budget, so no document can exhaust the stack,
// memory or time.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "composer/types/input_value.hpp"

namespace zelk::composer::yaml {

/// A position in the text, both counted from 1.
struct Mark {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
    bool operator==(const Mark&) const = default;
};

/// A reader failure: the problem, and where it was found when known.
struct YamlError {
    std::string message;
    std::optional<Mark> mark;

    /// "{message}" or "{message} at line {line} column {column}".
    std::string display() const;
    bool operator==(const YamlError&) const = default;
};

/// How a scalar was written.
enum class ScalarStyle : std::uint8_t { Plain, SingleQuoted, DoubleQuoted, Literal, Folded };

struct NodeEntry;

/// One node of a document.
struct Node {
    enum class Kind : std::uint8_t { Scalar, Sequence, Mapping };

    Kind kind = Kind::Scalar;
    /// The resolved tag ("tag:yaml.org,2002:str" for "!!str", "!x" for "!x"); empty when none
    /// was written.
    std::string tag;
    /// Scalar text, after quoting and folding were undone.
    std::string text;
    ScalarStyle style = ScalarStyle::Plain;
    /// Sequence items.
    std::vector<Node> items;
    /// Mapping entries in document order; a repeated key is kept as written.
    std::vector<NodeEntry> entries;
    /// Where the node starts.
    Mark mark;

    /// A plain scalar with empty text and no tag: what a key with nothing after its colon holds.
    bool is_empty_plain() const {
        return kind == Kind::Scalar && style == ScalarStyle::Plain && tag.empty() && text.empty();
    }
};

/// One entry of a mapping node.
struct NodeEntry {
    Node key;
    Node value;
};

/// Bounds on what one document may cost.
struct ReadLimits {
    /// Deepest nesting of sequences and mappings (a top-level collection has depth 1).
    std::size_t max_depth = kMaxValueDepth;
    /// Nodes that anchors and aliases may copy, beyond this many per node read directly.
    std::size_t alias_node_allowance = 10000;
    std::size_t alias_nodes_per_node = 10;
};

/// Reads the documents of one YAML stream in turn.
class DocumentReader {
  public:
    /// A reader over `text`, which must outlive it.
    explicit DocumentReader(std::string_view text, ReadLimits limits = {});
    ~DocumentReader();
    DocumentReader(const DocumentReader&) = delete;
    DocumentReader& operator=(const DocumentReader&) = delete;

    /// The next document's root node; nullopt once the stream has no further document. After
    /// an error, every later call returns the same error.
    std::expected<std::optional<Node>, YamlError> next_document();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

/// Reads a stream that holds at most one document; an empty stream gives nullopt.
std::expected<std::optional<Node>, YamlError> read_single_document(std::string_view text,
                                                                   ReadLimits limits = {});

}  // namespace zelk::composer::yaml
