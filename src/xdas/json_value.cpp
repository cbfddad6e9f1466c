// The standard-string instantiation of the JSON value types.
#include <quorvel/json_value.h>

namespace json_spirit {

template <class Config> Value_impl<Config>::Value_impl() : value_(std::monostate{}) {}
template <class Config> Value_impl<Config>::Value_impl(const char* value) : value_(String_type(value)) {}
template <class Config> Value_impl<Config>::Value_impl(const String_type& value) : value_(value) {}
template <class Config> Value_impl<Config>::Value_impl(const Object& value) : value_(value) {}
template <class Config> Value_impl<Config>::Value_impl(const Array& value) : value_(value) {}
template <class Config> Value_impl<Config>::Value_impl(bool value) : value_(value) {}
template <class Config> Value_impl<Config>::Value_impl(int value) : value_(std::int64_t{value}) {}
template <class Config> Value_impl<Config>::Value_impl(std::int64_t value) : value_(value) {}
template <class Config> Value_impl<Config>::Value_impl(double value) : value_(value) {}

template <class Config> Value_type Value_impl<Config>::type() const { return static_cast<Value_type>(value_.index()); }

template <class Config> bool Value_impl<Config>::is_null() const {
    return std::holds_alternative<std::monostate>(value_);
}

template <class Config> auto Value_impl<Config>::get_str() const -> const String_type& {
    return std::get<String_type>(value_);
}

template <class Config> auto Value_impl<Config>::get_obj() const -> const Object& { return std::get<Object>(value_); }

template <class Config> auto Value_impl<Config>::get_array() const -> const Array& { return std::get<Array>(value_); }

template <class Config> bool Value_impl<Config>::get_bool() const { return std::get<bool>(value_); }

template <class Config> int Value_impl<Config>::get_int() const {
    return static_cast<int>(std::get<std::int64_t>(value_));
}

template <class Config> std::int64_t Value_impl<Config>::get_int64() const { return std::get<std::int64_t>(value_); }

template <class Config> double Value_impl<Config>::get_real() const {
    if (const auto* integer = std::get_if<std::int64_t>(&value_)) return static_cast<double>(*integer);
    return std::get<double>(value_);
}

template <class Config> bool Value_impl<Config>::operator==(const Value_impl& other) const {
    return value_ == other.value_;
}

template class Value_impl<Config_vector<std::string>>;

} // namespace json_spirit
