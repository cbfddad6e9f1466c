// JSON value types: a small, source-compatible subset of the json_spirit 4.08
// value model (ordered objects, standard strings). Values only: no reader and
// no writer. XDASInitiator and XDASTarget return objects of this model.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace json_spirit {

enum Value_type { obj_type, array_type, str_type, bool_type, int_type, real_type, null_type };

template <class Config> class Value_impl;
template <class Config> struct Pair_impl;

// Configuration that stores objects as ordered vectors of name/value pairs.
template <class String> struct Config_vector {
    typedef String String_type;
    typedef Value_impl<Config_vector> Value_type;
    typedef Pair_impl<Config_vector> Pair_type;
    typedef std::vector<Pair_type> Object_type;
    typedef std::vector<Value_type> Array_type;
};

// A JSON value: null, a string, an object, an array, a boolean, an integer or
// a real. The getters expect the value to hold the type they read; reading
// another type throws std::bad_variant_access.
template <class Config> class Value_impl {
  public:
    typedef Config Config_type;
    typedef typename Config::String_type String_type;
    typedef typename Config::Object_type Object;
    typedef typename Config::Array_type Array;

    Value_impl();
    Value_impl(const char* value);
    Value_impl(const String_type& value);
    Value_impl(const Object& value);
    Value_impl(const Array& value);
    Value_impl(bool value);
    Value_impl(int value);
    Value_impl(std::int64_t value);
    Value_impl(double value);

    Value_type type() const;
    bool is_null() const;
    const String_type& get_str() const;
    const Object& get_obj() const;
    const Array& get_array() const;
    bool get_bool() const;
    int get_int() const;
    std::int64_t get_int64() const;
    // An integer value is read as a real as well.
    double get_real() const;

    bool operator==(const Value_impl& other) const;
    bool operator!=(const Value_impl& other) const { return !(*this == other); }

  private:
    // Alternatives in the order of Value_type, so that index() is the type.
    std::variant<Object, Array, String_type, bool, std::int64_t, double, std::monostate> value_;
};

// One member of an object.
template <class Config> struct Pair_impl {
    typedef typename Config::String_type String_type;
    typedef typename Config::Value_type Value_type;

    Pair_impl() = default;
    Pair_impl(const String_type& name, const Value_type& value) : name_(name), value_(value) {}

    bool operator==(const Pair_impl& other) const { return name_ == other.name_ && value_ == other.value_; }
    bool operator!=(const Pair_impl& other) const { return !(*this == other); }

    String_type name_;
    Value_type value_;
};

typedef Config_vector<std::string> Config;
typedef Config::Value_type Value;
typedef Config::Pair_type Pair;
typedef Config::Object_type Object;
typedef Config::Array_type Array;

// The library instantiates the standard-string configuration once.
extern template class Value_impl<Config_vector<std::string>>;

} // namespace json_spirit
