#include "installer_vesk/bridge/converters.h"

#include <iterator>

#include "installer_vesk/bridge/environment.h"
#include "ovra/strings.h"

namespace electron::node_interop::v8_helpers::type_converters {

napi_valuetype TypeOf(Napi::Value value) {
  napi_valuetype type = napi_undefined;
  if (!value.IsEmpty()) NAPI_THROW_IF_FAILED(value.Env(), napi_typeof(value.Env(), value, &type), type);
  return type;
}

bool Unbox(Napi::Value& value, napi_valuetype& type, const char* error) {
  for (int depth = 0; type == napi_object || type == napi_function; ++depth) {
    if (depth > kMaxBoxDepth) throw std::invalid_argument(error);
    Napi::Object box = value.As<Napi::Object>();
    if (!box.Has(kBoxProperty)) return false;  // has() also finds inherited properties
    value = box.Get(kBoxProperty);
    type = TypeOf(value);
  }
  return true;
}

namespace {

// The name script reports for the object's constructor; "Object" when it has none
// (Object.create(null)).
std::string ConstructorName(Napi::Object object) {
  Napi::Value constructor = object.Get("constructor");
  if (!constructor.IsFunction()) return "Object";
  Napi::Value name = constructor.As<Napi::Object>().Get("name");
  return name.IsString() ? name.As<Napi::String>().Utf8Value() : std::string();
}

}  // namespace

namespace {

bool HasNoOwnKeys(Napi::Object object, napi_key_filter filter) {
  napi_value names;
  NAPI_THROW_IF_FAILED(object.Env(),
                       napi_get_all_property_names(object.Env(), object, napi_key_own_only, filter,
                                                   napi_key_numbers_to_strings, &names),
                       false);
  return Napi::Array(object.Env(), names).Length() == 0;
}

bool HasObjectConstructorName(Napi::Object object) {
  const std::string name = ConstructorName(object);
  return name == "Object" || name == "Context";
}

}  // namespace

bool IsEmptyObject(Napi::Value value) {
  if (value.IsEmpty() || !value.IsObject()) return false;
  Napi::Object object = value.As<Napi::Object>();
  return HasObjectConstructorName(object) &&
         HasNoOwnKeys(object, static_cast<napi_key_filter>(napi_key_enumerable | napi_key_skip_symbols));
}

namespace {

bool IsBuiltIn(Napi::Object object) {
  return BridgeEnvironment::Get(object.Env()).builtIns().Contains(object) ||
         v8_helpers::IsOwnConstructorPrototype(object);
}

}  // namespace

bool ReceivesOutValue(Napi::Value value) {
  if (value.IsEmpty() || !value.IsObject()) return false;
  Napi::Object object = value.As<Napi::Object>();
  return HasObjectConstructorName(object) && HasNoOwnKeys(object, napi_key_all_properties) && !IsBuiltIn(object);
}

bool IsWritableOutArray(Napi::Array array) { return !IsBuiltIn(array); }

std::wstring WideStringTraits::Read(Napi::Value v) {
  return ovra::WideFromUtf16(v.As<Napi::String>().Utf16Value());
}

Napi::Value Converter<std::string>::ToScript(Napi::Env env, const std::string& value) {
  napi_value result;
  NAPI_THROW_IF_FAILED(env, napi_create_string_utf8(env, value.c_str(), NAPI_AUTO_LENGTH, &result), Napi::Value());
  return Napi::Value(env, result);
}

Napi::Value Converter<std::wstring>::ToScript(Napi::Env env, const std::wstring& value) {
  // Most texts fit on the stack: no allocation on the way to script.
  char16_t units[256];
  const std::size_t length = ovra::Utf16FromWide(value, units, std::size(units));
  if (length > std::size(units)) {
    return Napi::String::New(env, ovra::Utf16FromWide(value));
  }
  napi_value result;
  NAPI_THROW_IF_FAILED(env, napi_create_string_utf16(env, units, length, &result), Napi::Value());
  return Napi::Value(env, result);
}

void AppendRows(Napi::Env env, Napi::Array target, const std::vector<napi_value>& rows) {
  std::vector<napi_value> arguments;
  arguments.reserve(rows.size() + 1);
  arguments.push_back(target);
  arguments.insert(arguments.end(), rows.begin(), rows.end());
  napi_value ignored = nullptr;
  NAPI_THROW_IF_FAILED_VOID(env, napi_call_function(env, env.Undefined(), BridgeEnvironment::Get(env).RowAppender(env),
                                                    arguments.size(), arguments.data(), &ignored));
}

}  // namespace electron::node_interop::v8_helpers::type_converters
