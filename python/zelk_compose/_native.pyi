# Type stubs for the extension module zelk_compose._native.
from os import PathLike
from typing import Any, Iterable, Sequence, final

BUILTIN_VARIABLE_NAMES: list[str]

class ZelkComposeError(Exception):
    def __init__(
        self,
        message: str,
        code: str | None = None,
        recovery_hints: Sequence[str] | None = None,
        diagnostic_kind: str | None = None,
        diagnostic_message: str | None = None,
        diagnostic_occurrence: int | None = None,
    ) -> None: ...
    @property
    def message(self) -> str: ...
    @property
    def code(self) -> str | None: ...
    @property
    def recovery_hints(self) -> list[str]: ...
    @property
    def diagnostic_kind(self) -> str | None: ...
    @property
    def diagnostic_message(self) -> str | None: ...
    @property
    def diagnostic_occurrence(self) -> int | None: ...

@final
class ZelkRenderError(ZelkComposeError): ...

@final
class ZelkValidationError(ZelkComposeError): ...

@final
class ZelkResolveError(ZelkComposeError): ...

@final
class ZelkIncludeError(ZelkComposeError): ...

@final
class ZelkConfigError(ZelkComposeError): ...

@final
class VariableName:
    def __new__(cls, value: str) -> VariableName: ...

@final
class ProfileName:
    def __new__(cls, value: str) -> ProfileName: ...

# Constant classes: plain str members, no instances.
@final
class RuntimeKind:
    CLAUDE: str
    HERMES: str
    CODEX: str
    GEMINI: str
    OPENCODE: str

@final
class ProfileKind:
    AGENT: str
    COMMAND: str
    SKILL: str

@final
class UnknownVariablePolicy:
    ERROR: str
    WARN: str
    IGNORE: str

@final
class JsonEscapeMode:
    AUTO: str
    LEGACY: str

@final
class VariableSource:
    EXPLICIT_INPUT: str
    ENVIRONMENT: str
    BUILTIN: str
    TEMPLATE_INPUT_DEFAULT: str
    FRONTMATTER_DEFAULT: str
    INCLUDED_DEFAULT: str

@final
class DiagnosticSeverity:
    ERROR: str
    WARNING: str
    INFO: str

@final
class DiagnosticCode:
    ERR_RESOLVE_NOT_FOUND: str
    ERR_RESOLVE_AMBIGUOUS: str
    ERR_INCLUDE_ESCAPE: str
    ERR_INCLUDE_NOT_FOUND: str
    ERR_INCLUDE_CYCLE: str
    ERR_INCLUDE_DEPTH: str
    ERR_VAL_OBJECT_SHAPE: str
    ERR_VAL_NESTED_ARRAY_UNSUPPORTED: str
    ERR_VAL_DUPLICATE: str
    WARN_VAL_CONFLICTING_DEFAULT_SECTIONS: str
    WARN_LINT_REDUNDANT_FILTER_CHAIN: str
    ERR_VAL_EMPTY: str
    ERR_VAL_MISSING_FRONTMATTER: str
    ERR_VAL_MISSING_REQUIRED: str
    ERR_VAL_MISSING_NESTED_FIELD: str
    ERR_VAL_SHAPE_MISMATCH: str
    ERR_VAL_UNDECLARED_TOKEN: str
    ERR_VAL_EXTRA_INPUT: str
    ERR_VAL_UNBOUND_VARIABLE: str
    INFO_VAL_DEFAULT_USED: str
    ERR_RENDER_STDIN_DOUBLE_READ: str
    ERR_RENDER_WRITE: str
    ERR_CONFIG_READONLY: str
    ERR_CONFIG_MODE: str
    ERR_CONFIG_PARSE: str
    ERR_CONFIG_VARFILE: str
    ERR_CONFIG_PACK_NOT_FOUND: str
    ERR_CONFIG_PACK_NOT_RENDERABLE: str
    ERR_CONFIG_TEMPLATE_EXISTS: str
    ERR_EXTRACT_INVALID_REQUEST: str
    ERR_EXTRACT_MALFORMED: str
    ERR_EXTRACT_UNSUPPORTED: str
    ERR_EXTRACT_TEMPLATE_UNSUPPORTED: str
    ERR_EXTRACT_XML_ELEMENT_MISMATCH: str
    ERR_EXTRACT_XML_ATTRIBUTE_MISMATCH: str
    ERR_EXTRACT_XML_CHILD_STRUCTURE_MISMATCH: str
    ERR_EXTRACT_XML_STATIC_MISMATCH: str
    ERR_EXTRACT_XML_CONTROL_FLOW_UNSUPPORTED: str
    ERR_EXTRACT_XML_DYNAMIC_ELEMENT_NAME: str
    ERR_EXTRACT_XML_NAMESPACE_UNSUPPORTED: str
    ERR_EXTRACT_AMBIGUOUS: str
    ERR_EXTRACT_FORMAT_UNSUPPORTED: str
    ERR_EXTRACT_JSON_MALFORMED: str
    ERR_EXTRACT_JSON_DUPLICATE_KEY: str
    ERR_EXTRACT_JSON_PATH_MISSING: str
    ERR_EXTRACT_JSON_SHAPE_MISMATCH: str
    ERR_EXTRACT_JSON_VALUE_UNSUPPORTED: str
    ERR_EXTRACT_JSON_AMBIGUOUS: str
    ERR_EXTRACT_YAML_MALFORMED: str
    ERR_EXTRACT_YAML_DUPLICATE_KEY: str
    ERR_EXTRACT_YAML_ALIAS_UNSUPPORTED: str
    ERR_EXTRACT_YAML_DOCUMENT_STREAM: str
    ERR_EXTRACT_YAML_PATH_MISSING: str
    ERR_EXTRACT_YAML_SHAPE_MISMATCH: str
    ERR_EXTRACT_YAML_VALUE_UNSUPPORTED: str
    ERR_EXTRACT_YAML_AMBIGUOUS: str
    ERR_EXTRACT_TOML_MALFORMED: str
    ERR_EXTRACT_INPUT_LIMIT: str
    ERR_EXTRACT_TOML_DUPLICATE_KEY: str
    ERR_EXTRACT_TOML_PATH_MISSING: str
    ERR_EXTRACT_TOML_SHAPE_MISMATCH: str
    ERR_EXTRACT_TOML_VALUE_UNSUPPORTED: str
    ERR_EXTRACT_TOML_AMBIGUOUS: str
    ERR_JSON_ESCAPE_MODE_NON_JSON: str
    ERR_JSON_LEGACY_NON_STRING: str
    ERR_JSON_MODE_CONTRACT: str
    ERR_JSON_MODE_INCLUDE_CONFLICT: str
    WARN_JSON_LEGACY_ESCAPE_MODE: str
    WARN_JSON_QUOTED_PLACEHOLDER: str
    WARN_EXTRACT_NOT_OBSERVED: str
    WARN_EXTRACT_LOW_CONFIDENCE: str
    WARN_EXTRACT_DIRTY_PREFIX_STRIPPED: str

@final
class ConfiningRoot:
    def __new__(cls, path: str | PathLike[str]) -> ConfiningRoot: ...
    def confine(self, candidate: str | PathLike[str]) -> str: ...

@final
class ResolverPolicy: ...

@final
class ComposeMode:
    @staticmethod
    def file(template_path: str | PathLike[str]) -> ComposeMode: ...
    @staticmethod
    def profile(kind: str, name: str | ProfileName) -> ComposeMode: ...
    @property
    def kind(self) -> str | None: ...
    @property
    def name(self) -> str | None: ...
    @property
    def template_path(self) -> str | None: ...

@final
class ComposePolicy:
    def __new__(
        cls,
        strict_undeclared_variables: bool = False,
        unknown_variable_policy: str = "ignore",
        unbound_variable_policy: str | None = None,
        max_include_depth: int = 32,
        allowed_roots: Iterable[ConfiningRoot | str | PathLike[str]] | None = None,
        passes: Iterable[PassConfig] | None = None,
        json_escape_mode: str | None = None,
    ) -> ComposePolicy: ...
    @property
    def strict_undeclared_variables(self) -> bool: ...
    @property
    def unknown_variable_policy(self) -> str: ...
    @property
    def unbound_variable_policy(self) -> str | None: ...
    @property
    def max_include_depth(self) -> int: ...
    @property
    def allowed_roots(self) -> list[str]: ...
    @property
    def resolver_policy(self) -> ResolverPolicy: ...
    @property
    def passes(self) -> list[PassConfig]: ...
    @property
    def json_escape_mode(self) -> str | None: ...

@final
class ComposeRequest:
    def __new__(
        cls,
        root: str | PathLike[str],
        mode: ComposeMode,
        vars_input: dict[str, Any] | None = None,
        vars_env: dict[str, Any] | None = None,
        vars_defaults: dict[str, Any] | None = None,
        guidance_block: str | None = None,
        user_prompt: str | None = None,
        policy: ComposePolicy | None = None,
        runtime: str | None = None,
    ) -> ComposeRequest: ...
    @property
    def root(self) -> str: ...
    @property
    def mode(self) -> ComposeMode: ...
    @property
    def policy(self) -> ComposePolicy: ...
    @property
    def runtime(self) -> str | None: ...

@final
class ResolveResult:
    @property
    def resolved_path(self) -> str: ...
    @property
    def attempted_paths(self) -> list[str]: ...
    @property
    def ambiguity_candidates(self) -> list[str]: ...

def resolve_template_path(request: ComposeRequest) -> ResolveResult: ...
def resolve_profile(request: ComposeRequest) -> ResolveResult: ...

@final
class ComposeResult:
    @property
    def rendered_text(self) -> str: ...
    @property
    def resolve_result(self) -> ResolveResult: ...
    @property
    def resolved_files(self) -> list[str]: ...
    @property
    def variable_sources(self) -> dict[str, str]: ...
    @property
    def warnings(self) -> list[Diagnostic]: ...
    @property
    def composition_sha256(self) -> str | None: ...

@final
class ValidationReport:
    @property
    def ok(self) -> bool: ...
    @property
    def errors(self) -> list[Diagnostic]: ...
    @property
    def warnings(self) -> list[Diagnostic]: ...
    @property
    def resolve_result(self) -> ResolveResult: ...

def validate(request: ComposeRequest) -> ValidationReport: ...

@final
class VerifyResult:
    @property
    def clean(self) -> bool: ...
    @property
    def resolved_template_path(self) -> str: ...
    @property
    def deployed_path(self) -> str: ...
    @property
    def rendered_text(self) -> str: ...
    @property
    def deployed_text(self) -> str: ...
    @property
    def diff(self) -> str | None: ...
    @property
    def warnings(self) -> list[Diagnostic]: ...

def compose(request: ComposeRequest) -> ComposeResult: ...
def compose_file(request: ComposeRequest) -> ComposeResult: ...
def render_all(parsed: ParsedTemplate, contexts: Iterable[tuple[int, dict[str, Any]]]) -> str: ...
def verify(request: ComposeRequest, deployed_path: str | PathLike[str]) -> VerifyResult: ...

@final
class ExpandedTemplate:
    @property
    def text(self) -> str: ...
    @property
    def resolved_files(self) -> list[str]: ...
    @property
    def frontmatters(self) -> list[tuple[str, Frontmatter | None]]:
        """Return the legacy single-frontmatter view for each expanded file."""
    @property
    def frontmatter_passes(self) -> list[tuple[str, list[Frontmatter]]]:
        """Return every parsed frontmatter block for each expanded file."""
    @property
    def include_chains(self) -> dict[str, list[str]]: ...
    @property
    def composition_sha256(self) -> str | None: ...

def expand_includes(
    template_path: str | PathLike[str], root: str | PathLike[str], policy: ComposePolicy | None = None
) -> ExpandedTemplate: ...

@final
class NamedTemplateAsset:
    def __new__(cls, template_name: str, template_text: str) -> NamedTemplateAsset: ...
    @property
    def template_name(self) -> str: ...
    @property
    def template_text(self) -> str: ...

@final
class LoadedTemplateRequest:
    def __new__(
        cls,
        template_name: str,
        template_text: str,
        context: dict[str, Any],
        supporting_templates: Iterable[NamedTemplateAsset] | None = None,
    ) -> LoadedTemplateRequest: ...

@final
class RenderedArtifact:
    @property
    def template_name(self) -> str: ...
    @property
    def rendered(self) -> str: ...

@final
class Renderer:
    def __new__(cls) -> Renderer: ...
    @classmethod
    def with_delimiters(cls, open: str, close: str) -> Renderer: ...
    def render(self, template: str, context: Any) -> str: ...
    def render_named(self, name: str, template: str, context: Any) -> str: ...

def render_template(template: str, context: Any) -> str: ...
def render_loaded_template(request: LoadedTemplateRequest) -> RenderedArtifact: ...

# Input values and template documents.
def validate_input_value(value: Any) -> None: ...
def input_value_from_yaml(input: str) -> Any: ...

@final
class PassConfig:
    def __new__(
        cls,
        pass_number: int,
        required_variables: Iterable[str | VariableName] | None = None,
        defaults: dict[str, Any] | None = None,
        metadata: dict[str, Any] | None = None,
    ) -> PassConfig: ...
    @property
    def pass_number(self) -> int: ...
    @property
    def required_variables(self) -> list[VariableName]: ...
    @property
    def defaults(self) -> dict[str, Any]: ...
    @property
    def metadata(self) -> dict[str, Any]: ...

@final
class Diagnostic:
    @property
    def severity(self) -> str: ...
    @property
    def code(self) -> str: ...
    @property
    def message(self) -> str: ...
    @property
    def path(self) -> str | None: ...
    @property
    def line(self) -> int | None: ...
    @property
    def column(self) -> int | None: ...
    @property
    def include_chain(self) -> list[str]: ...

@final
class Frontmatter:
    @property
    def pass_number(self) -> int: ...
    @property
    def required_variables(self) -> list[VariableName]: ...
    @property
    def defaults(self) -> dict[str, Any]: ...
    @property
    def metadata(self) -> dict[str, Any]: ...
    @property
    def diagnostics(self) -> list[Diagnostic]: ...

@final
class ParsedTemplate:
    @property
    def body(self) -> str: ...
    @property
    def passes(self) -> list[Frontmatter]: ...
    @property
    def frontmatter(self) -> Frontmatter | None: ...

def parse_template_document(input: str) -> ParsedTemplate: ...
def discover_all_pass_tokens(parsed: ParsedTemplate) -> dict[int, list[VariableName]]: ...

def to_forward_slash(path: str | PathLike[str]) -> str: ...
def discover_tokens(text: str) -> list[VariableName]: ...
def discover_tokens_with_brace_count(text: str, brace_count: int) -> list[VariableName]: ...
