// Conversions of single values between script and native code.
//
// Script to native: any input may be boxed, i.e. given as an object whose
// property "value" holds it (boxes may nest); any other object converts to the
// type's empty value. There is no coercion between kinds: a numeric string is not
// a number. Failures throw std::invalid_argument with the type's fixed text.
// Native to script never fails.
#pragma once

#include <napi.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "installer_vesk/bridge/errors.h"
#include "installer_vesk/bridge/object_wrapper.h"

namespace electron::node_interop::v8_helpers::type_converters {

inline constexpr char kBoxProperty[] = "value";

// True for an object with no own enumerable string-keyed properties whose
// constructor is named "Object" (or "Context"), such as `{}`.
bool IsEmptyObject(Napi::Value value);

// Whether an out-parameter may receive "value": an object such as `{}` with no
// own property at all (enumerable or not, symbols included) that is not one
// of the realm's built-in objects. Object.prototype, Math or globalThis would
// otherwise pass on the property to every object.
bool ReceivesOutValue(Napi::Value value);

// Whether an array out-parameter may be written in place: any array but a
// built-in prototype (Array.prototype, of this realm or another).
bool IsWritableOutArray(Napi::Array array);

// Boxes nested deeper than this are refused (a box may contain itself).
inline constexpr int kMaxBoxDepth = 1000;

// The value's type; napi_undefined for an empty value.
napi_valuetype TypeOf(Napi::Value value);

// While `value` is an object (or function), replaces it by the content of its
// box, through nested boxes; `type` is kept as the type of `value`. Returns
// false when an object without a "value" property is met (the caller then uses
// its empty value). Throws std::invalid_argument(`error`) past kMaxBoxDepth.
bool Unbox(Napi::Value& value, napi_valuetype& type, const char* error);

// A record shape: a plain struct whose fields are listed, in script order, by a
// specialisation of RecordShape with a static `fields()` returning a tuple of Field.
template <typename Record, typename Member>
struct Field {
  const char* name;
  Member Record::*member;
};

template <typename Record, typename Member>
constexpr Field<Record, Member> MakeField(const char* name, Member Record::*member) {
  return {name, member};
}

template <typename Record>
struct RecordShape;  // specialise per record type

template <typename T, typename = void>
struct IsRecord : std::false_type {};
template <typename T>
struct IsRecord<T, std::void_t<decltype(RecordShape<T>::fields())>> : std::true_type {};

template <typename T, typename = void>
struct Converter;

// Scalars share the boxing rules; each supplies its kind and reader.
template <typename T, typename Traits>
struct ScalarConverter {
  static T FromScript(Napi::Value value) {
    if (value.IsEmpty()) throw std::invalid_argument(Traits::kError);
    napi_valuetype type = TypeOf(value);
    if (!Unbox(value, type, Traits::kError)) return T{};
    if (type != Traits::kKind) throw std::invalid_argument(Traits::kError);
    return Traits::Read(value);
  }
};

struct BoolTraits {
  static constexpr const char* kError = error_text::kBoolean;
  static constexpr napi_valuetype kKind = napi_boolean;
  static bool Read(Napi::Value v) { return v.As<Napi::Boolean>().Value(); }
};
struct Int32Traits {
  static constexpr const char* kError = error_text::kInt32;
  static constexpr napi_valuetype kKind = napi_number;
  static std::int32_t Read(Napi::Value v) { return v.As<Napi::Number>().Int32Value(); }
};
struct UInt32Traits {
  static constexpr const char* kError = error_text::kUInt32;
  static constexpr napi_valuetype kKind = napi_number;
  static std::uint32_t Read(Napi::Value v) { return v.As<Napi::Number>().Uint32Value(); }
};
struct StringTraits {
  static constexpr const char* kError = error_text::kString;
  static constexpr napi_valuetype kKind = napi_string;
  static std::string Read(Napi::Value v) { return v.As<Napi::String>().Utf8Value(); }
};
struct WideStringTraits {
  static constexpr const char* kError = error_text::kString;
  static constexpr napi_valuetype kKind = napi_string;
  static std::wstring Read(Napi::Value v);
};

template <>
struct Converter<bool> : ScalarConverter<bool, BoolTraits> {
  static Napi::Value ToScript(Napi::Env env, bool value) { return Napi::Boolean::New(env, value); }
};
template <>
struct Converter<std::int32_t> : ScalarConverter<std::int32_t, Int32Traits> {
  static Napi::Value ToScript(Napi::Env env, std::int32_t value) { return Napi::Number::New(env, value); }
};
template <>
struct Converter<std::uint32_t> : ScalarConverter<std::uint32_t, UInt32Traits> {
  // Reaches script as the same 32 bits read as signed: 4294967295 gives -1.
  static Napi::Value ToScript(Napi::Env env, std::uint32_t value) {
    return Napi::Number::New(env, static_cast<std::int32_t>(value));
  }
};
template <>
struct Converter<std::string> : ScalarConverter<std::string, StringTraits> {
  // The text up to its first NUL.
  static Napi::Value ToScript(Napi::Env env, const std::string& value);
};
template <>
struct Converter<std::wstring> : ScalarConverter<std::wstring, WideStringTraits> {
  static Napi::Value ToScript(Napi::Env env, const std::wstring& value);
};

template <typename T>
struct IsVector : std::false_type {};
template <typename T>
struct IsVector<std::vector<T>> : std::true_type {};

// Appends to `target` one array per row of `rows`, given as each row's length
// followed by its values: [2, a, b, 1, c] appends [a, b] and [c].
void AppendRows(Napi::Env env, Napi::Array target, const std::vector<napi_value>& rows);

// Results only: arrays (of arrays) of strings.
template <typename Element>
struct Converter<std::vector<Element>, std::enable_if_t<!IsRecord<Element>::value>> {
  static Napi::Value ToScript(Napi::Env env, const std::vector<Element>& values) {
    Napi::EscapableHandleScope scope(env);
    if constexpr (IsVector<Element>::value) {
      // Rows: script builds them a batch at a time, far faster than element by element.
      constexpr std::size_t kValuesPerBatch = 4096;
      Napi::Array array = Napi::Array::New(env);
      std::vector<napi_value> batch;
      for (std::size_t first = 0; first < values.size();) {
        Napi::HandleScope batch_scope(env);
        batch.clear();
        for (; first < values.size() && (batch.empty() || batch.size() + values[first].size() < kValuesPerBatch);
             ++first) {
          batch.push_back(Napi::Number::New(env, static_cast<double>(values[first].size())));
          for (const auto& value : values[first]) {
            batch.push_back(Converter<typename Element::value_type>::ToScript(env, value));
          }
        }
        AppendRows(env, array, batch);
      }
      return scope.Escape(array);
    } else {
      Napi::Array array = Napi::Array::New(env, values.size());
      for (std::size_t i = 0; i < values.size(); ++i) {
        array.Set(static_cast<std::uint32_t>(i), Converter<Element>::ToScript(env, values[i]));
      }
      return scope.Escape(array);
    }
  }
};

template <typename Record>
struct Converter<Record, std::enable_if_t<IsRecord<Record>::value>> {
  static Record FromScript(Napi::Value value, int depth = 0) {
    if (value.IsEmpty() || !value.IsObject() || depth > kMaxBoxDepth) {
      throw std::invalid_argument(error_text::kSpecifiedType);
    }
    if (value.As<Napi::Object>().Has(kBoxProperty)) {
      return FromScript(value.As<Napi::Object>().Get(kBoxProperty), depth + 1);
    }
    if (IsEmptyObject(value)) return Record{};
    Record record{};
    Napi::Object object = value.As<Napi::Object>();
    std::apply([&](const auto&... field) { (ReadField(object, record, field), ...); },
               RecordShape<Record>::fields());
    return record;
  }

  // A new bound object with one own property per field, in field order.
  static Napi::Value ToScript(Napi::Env env, const Record& record) {
    std::vector<napi_value> values;
    values.reserve(Layout().values);
    AppendValues(env, record, values);
    return wrappers::MakeBoundRecord(env, Layout(), values.data());
  }

  // ToScript of each record, stored in target[0], target[1], ...
  static void ToScriptInto(Napi::Env env, const std::vector<Record>& records, Napi::Array target) {
    std::vector<napi_value> values;
    values.reserve(Layout().values * records.size());
    for (const Record& record : records) AppendValues(env, record, values);
    wrappers::MakeBoundRecords(env, Layout(), records.size(), values, target);
  }

  // The fields as script sees them; nested records are laid out in place.
  static const wrappers::RecordLayout& Layout() {
    static const auto fields = std::apply(
        [](const auto&... field) {
          return std::array<wrappers::RecordLayout::Field, sizeof...(field)>{
              wrappers::RecordLayout::Field{field.name, NestedLayout<FieldType<decltype(field)>>()}...};
        },
        RecordShape<Record>::fields());
    static const wrappers::RecordLayout layout{fields.data(), fields.size(), CountValues(fields)};
    return layout;
  }

  // The plain values of `record`, a nested record's in its place.
  static void AppendValues(Napi::Env env, const Record& record, std::vector<napi_value>& values) {
    std::apply([&](const auto&... field) { (AppendField(env, record.*(field.member), values), ...); },
               RecordShape<Record>::fields());
  }

 private:
  template <typename F>
  using FieldType = std::decay_t<decltype(std::declval<Record&>().*(std::declval<F>().member))>;

  template <typename T>
  static const wrappers::RecordLayout* NestedLayout() {
    if constexpr (IsRecord<T>::value) {
      return &Converter<T>::Layout();
    } else {
      return nullptr;
    }
  }

  template <typename Fields>
  static std::size_t CountValues(const Fields& fields) {
    std::size_t values = 0;
    for (const auto& field : fields) values += field.nested != nullptr ? field.nested->values : 1;
    return values;
  }

  template <typename T>
  static void AppendField(Napi::Env env, const T& value, std::vector<napi_value>& values) {
    if constexpr (IsRecord<T>::value) {
      Converter<T>::AppendValues(env, value, values);
    } else {
      values.push_back(Converter<T>::ToScript(env, value));
    }
  }

  template <typename F>
  static void ReadField(Napi::Object object, Record& record, const F& field) {
    record.*(field.member) = Converter<FieldType<const F&>>::FromScript(object.Get(field.name));
  }
};

// Arrays of records: read from a script array; written back in place by the
// method call (see method.h).
template <typename Record>
struct Converter<std::vector<Record>, std::enable_if_t<IsRecord<Record>::value>> {
  static std::vector<Record> FromScript(Napi::Value value) {
    if (value.IsEmpty() || !value.IsArray()) throw std::invalid_argument(error_text::kArray);
    Napi::Array array = value.As<Napi::Array>();
    std::vector<Record> records;
    // The length is read again after each element: a getter may change it.
    for (std::uint32_t i = 0; i < array.Length(); ++i) {
      records.push_back(Converter<Record>::FromScript(array.Get(i)));
    }
    return records;
  }
};

}  // namespace electron::node_interop::v8_helpers::type_converters
