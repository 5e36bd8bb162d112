#pragma once
// The six filters every renderer registers.

#include "jinja/jinja.hpp"

namespace zelk::composer::renderer_detail {

/// Registers `cdata_escape`, `turtle_escape`, `md_table_safe`, `xml_char_safe`,
/// `frontmatter_safe` and `yaml_safe`, in this order.
void register_filters(jinja::Environment& env);

}  // namespace zelk::composer::renderer_detail
