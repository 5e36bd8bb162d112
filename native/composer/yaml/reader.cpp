#include "composer/yaml/reader.hpp"

#include <yaml.h>

#include <algorithm>
#include <map>

#include <fmt/format.h>

namespace zelk::composer::yaml {

namespace {

Mark to_mark(const yaml_mark_t& mark) {
    return Mark{mark.line + 1, mark.column + 1};
}

std::string_view c_text(const yaml_char_t* text) {
    return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

ScalarStyle to_style(yaml_scalar_style_t style) {
    switch (style) {
        case YAML_SINGLE_QUOTED_SCALAR_STYLE:
            return ScalarStyle::SingleQuoted;
        case YAML_DOUBLE_QUOTED_SCALAR_STYLE:
            return ScalarStyle::DoubleQuoted;
        case YAML_LITERAL_SCALAR_STYLE:
            return ScalarStyle::Literal;
        case YAML_FOLDED_SCALAR_STYLE:
            return ScalarStyle::Folded;
        default:
            return ScalarStyle::Plain;
    }
}

// Owns one libyaml event for the duration of its handling.
class Event {
  public:
    Event() = default;
    ~Event() { yaml_event_delete(&event_); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    yaml_event_t* get() { return &event_; }
    const yaml_event_t& operator*() const { return event_; }
    const yaml_event_t* operator->() const { return &event_; }

  private:
    yaml_event_t event_{};
};

// A collection being read, with the bookkeeping the limits need.
struct Frame {
    Node node;
    std::optional<Node> pending_key;
    std::string anchor;
    std::size_t size = 1;
    std::size_t height = 1;
};

// A completed anchored node and its cost, so an alias can be checked before it is copied.
struct Anchored {
    Node node;
    std::size_t size = 1;
    std::size_t height = 0;
};

}  // namespace

std::string YamlError::display() const {
    if (!mark) {
        return message;
    }
    return fmt::format("{} at line {} column {}", message, mark->line, mark->column);
}

struct DocumentReader::State {
    yaml_parser_t parser{};
    ReadLimits limits;
    bool finished = false;
    std::optional<YamlError> failure;

    // Per document.
    std::vector<Frame> stack;
    std::map<std::string, Anchored, std::less<>> anchors;
    std::optional<Node> root;
    std::size_t direct_nodes = 0;
    std::size_t copied_nodes = 0;

    YamlError parser_error() const {
        std::string problem = parser.problem ? parser.problem : "invalid YAML";
        if (parser.error == YAML_READER_ERROR) {
            if (parser.problem_value != -1) {
                return YamlError{
                    fmt::format("{}: #{:X} at byte {}", problem, parser.problem_value, parser.problem_offset),
                    std::nullopt};
            }
            return YamlError{fmt::format("{} at byte {}", problem, parser.problem_offset), std::nullopt};
        }
        if (parser.context) {
            const Mark context = to_mark(parser.context_mark);
            problem = fmt::format("{}, while {} at line {} column {}", problem, parser.context, context.line,
                                  context.column);
        }
        return YamlError{std::move(problem), to_mark(parser.problem_mark)};
    }

    std::expected<void, YamlError> charge_copy(std::size_t size, Mark mark) {
        const std::size_t allowance =
            limits.alias_node_allowance + limits.alias_nodes_per_node * direct_nodes;
        if (size > allowance || copied_nodes > allowance - size) {
            return std::unexpected(YamlError{"YAML anchors and aliases expand to too many nodes", mark});
        }
        copied_nodes += size;
        return {};
    }

    std::expected<void, YamlError> check_depth(std::size_t depth, Mark mark) const {
        if (depth > limits.max_depth) {
            return std::unexpected(YamlError{
                fmt::format("YAML nesting depth exceeds the maximum of {}", limits.max_depth), mark});
        }
        return {};
    }

    // Hands a completed node to its parent (or makes it the root), recording its anchor.
    std::expected<void, YamlError> complete(Node node, std::string_view anchor, std::size_t size,
                                            std::size_t height) {
        if (!anchor.empty()) {
            if (auto charged = charge_copy(size, node.mark); !charged) {
                return charged;
            }
            anchors.insert_or_assign(std::string(anchor), Anchored{node, size, height});
        }
        if (stack.empty()) {
            root = std::move(node);
            return {};
        }
        Frame& parent = stack.back();
        parent.size += size;
        parent.height = std::max(parent.height, height + 1);
        if (parent.node.kind == Node::Kind::Sequence) {
            parent.node.items.push_back(std::move(node));
        } else if (!parent.pending_key) {
            parent.pending_key = std::move(node);
        } else {
            parent.node.entries.emplace_back(std::move(*parent.pending_key), std::move(node));
            parent.pending_key.reset();
        }
        return {};
    }

    std::expected<void, YamlError> open(Node::Kind kind, const yaml_event_t& event, const yaml_char_t* anchor,
                                        const yaml_char_t* tag) {
        const Mark mark = to_mark(event.start_mark);
        if (auto checked = check_depth(stack.size() + 1, mark); !checked) {
            return checked;
        }
        ++direct_nodes;
        Frame frame;
        frame.node.kind = kind;
        frame.node.tag = std::string(c_text(tag));
        frame.node.mark = mark;
        frame.anchor = std::string(c_text(anchor));
        stack.push_back(std::move(frame));
        return {};
    }

    std::expected<void, YamlError> close() {
        Frame frame = std::move(stack.back());
        stack.pop_back();
        return complete(std::move(frame.node), frame.anchor, frame.size, frame.height);
    }

    std::expected<void, YamlError> scalar(const yaml_event_t& event) {
        ++direct_nodes;
        const auto& data = event.data.scalar;
        Node node;
        node.kind = Node::Kind::Scalar;
        node.tag = std::string(c_text(data.tag));
        node.text.assign(reinterpret_cast<const char*>(data.value), data.length);
        node.style = to_style(data.style);
        node.mark = to_mark(event.start_mark);
        return complete(std::move(node), c_text(data.anchor), 1, 0);
    }

    std::expected<void, YamlError> alias(const yaml_event_t& event) {
        const Mark mark = to_mark(event.start_mark);
        const std::string_view name = c_text(event.data.alias.anchor);
        // An anchor is recorded only once its node is complete, so an alias inside its own
        // anchored node is unknown here: no cyclic document can be built.
        auto found = anchors.find(name);
        if (found == anchors.end()) {
            return std::unexpected(
                YamlError{fmt::format("unknown anchor `{}` referenced by an alias", name), mark});
        }
        if (auto checked = check_depth(stack.size() + found->second.height, mark); !checked) {
            return checked;
        }
        if (auto charged = charge_copy(found->second.size, mark); !charged) {
            return charged;
        }
        Node copy = found->second.node;
        copy.mark = mark;
        return complete(std::move(copy), {}, found->second.size, found->second.height);
    }

    std::expected<bool, YamlError> next_event(Event& event) {
        if (!yaml_parser_parse(&parser, event.get())) {
            return std::unexpected(parser_error());
        }
        return true;
    }

    std::expected<std::optional<Node>, YamlError> read_document() {
        for (;;) {
            Event event;
            if (auto parsed = next_event(event); !parsed) {
                return std::unexpected(std::move(parsed.error()));
            }
            std::expected<void, YamlError> step;
            switch (event->type) {
                case YAML_STREAM_START_EVENT:
                    break;
                case YAML_STREAM_END_EVENT:
                case YAML_NO_EVENT:
                    finished = true;
                    return std::nullopt;
                case YAML_DOCUMENT_START_EVENT:
                    stack.clear();
                    anchors.clear();
                    root.reset();
                    direct_nodes = 0;
                    copied_nodes = 0;
                    break;
                case YAML_DOCUMENT_END_EVENT:
                    anchors.clear();
                    return std::move(root);
                case YAML_ALIAS_EVENT:
                    step = alias(*event);
                    break;
                case YAML_SCALAR_EVENT:
                    step = scalar(*event);
                    break;
                case YAML_SEQUENCE_START_EVENT:
                    step = open(Node::Kind::Sequence, *event, event->data.sequence_start.anchor,
                                event->data.sequence_start.tag);
                    break;
                case YAML_MAPPING_START_EVENT:
                    step = open(Node::Kind::Mapping, *event, event->data.mapping_start.anchor,
                                event->data.mapping_start.tag);
                    break;
                case YAML_SEQUENCE_END_EVENT:
                case YAML_MAPPING_END_EVENT:
                    step = close();
                    break;
            }
            if (!step) {
                return std::unexpected(std::move(step.error()));
            }
        }
    }
};

DocumentReader::DocumentReader(std::string_view text, ReadLimits limits) : state_(std::make_unique<State>()) {
    state_->limits = limits;
    if (!yaml_parser_initialize(&state_->parser)) {
        state_->failure = YamlError{"failed to initialise the YAML reader", std::nullopt};
        return;
    }
    yaml_parser_set_input_string(&state_->parser, reinterpret_cast<const unsigned char*>(text.data()),
                                 text.size());
    yaml_parser_set_encoding(&state_->parser, YAML_UTF8_ENCODING);
}

DocumentReader::~DocumentReader() {
    yaml_parser_delete(&state_->parser);
}

std::expected<std::optional<Node>, YamlError> DocumentReader::next_document() {
    if (state_->failure) {
        return std::unexpected(*state_->failure);
    }
    if (state_->finished) {
        return std::nullopt;
    }
    auto document = state_->read_document();
    if (!document) {
        state_->failure = document.error();
    }
    return document;
}

std::expected<std::optional<Node>, YamlError> read_single_document(std::string_view text, ReadLimits limits) {
    DocumentReader reader(text, limits);
    auto first = reader.next_document();
    if (!first || !*first) {
        return first;
    }
    auto second = reader.next_document();
    if (!second) {
        return std::unexpected(std::move(second.error()));
    }
    if (*second) {
        return std::unexpected(YamlError{
            "expected a single YAML document, but the stream holds more than one", (*second)->mark});
    }
    return first;
}

}  // namespace zelk::composer::yaml
