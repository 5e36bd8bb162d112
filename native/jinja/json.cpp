#include "jinja/json.hpp"

namespace zelk::jinja {

Value value_from_json(const nlohmann::ordered_json& json) {
    switch (json.type()) {
        case nlohmann::ordered_json::value_t::null:
            return Value::none();
        case nlohmann::ordered_json::value_t::boolean:
            return Value::from_bool(json.get<bool>());
        case nlohmann::ordered_json::value_t::number_integer:
            return Value::from_int(json.get<std::int64_t>());
        case nlohmann::ordered_json::value_t::number_unsigned: {
            const auto u = json.get<std::uint64_t>();
            if (u > static_cast<std::uint64_t>(INT64_MAX)) {
                return Value::from_float(static_cast<double>(u));
            }
            return Value::from_int(static_cast<std::int64_t>(u));
        }
        case nlohmann::ordered_json::value_t::number_float:
            return Value::from_float(json.get<double>());
        case nlohmann::ordered_json::value_t::string:
            return Value::from_string(json.get<std::string>());
        case nlohmann::ordered_json::value_t::array: {
            std::vector<Value> items;
            items.reserve(json.size());
            for (const auto& x : json) {
                items.push_back(value_from_json(x));
            }
            return Value::seq(std::move(items));
        }
        case nlohmann::ordered_json::value_t::object: {
            ValueMap m;
            m.reserve(json.size());
            for (const auto& [k, x] : json.items()) {
                m.insert_or_assign(Value::from_string(k), value_from_json(x));
            }
            return Value::map(std::move(m));
        }
        default:
            return Value::none();
    }
}

}  // namespace zelk::jinja
