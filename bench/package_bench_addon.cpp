// Bare baselines for the package-information benchmark: the MSI access
// library's feature read and a plain MSI view loop, called from script with
// plain node-addon-api functions and returning only a count.
#include <napi.h>

#include <string>
#include <vector>

#include "msi_wrapper/msi_database.h"
#include "msi_wrapper/msi_handle.h"
#include "msi_wrapper/package_queries.h"
#include "ovra/strings.h"

namespace {

using namespace installer::msi_wrapper;

UniqueMsiHandle package;  // opened by openPackage, as the package object keeps its own

std::wstring PathArgument(const Napi::CallbackInfo& info) {
  return ovra::WideFromUtf8(info[0].As<Napi::String>().Utf8Value());
}

// openPackage(path): true when the package opened.
Napi::Value OpenPackage(const Napi::CallbackInfo& info) {
  MSIHANDLE handle = 0;
  const UINT result = MsiOpenDatabaseW(PathArgument(info).c_str(), MSIDBOPEN_READONLY, &handle);
  package.reset(result == ERROR_SUCCESS ? handle : 0);
  return Napi::Boolean::New(info.Env(), result == ERROR_SUCCESS);
}

// readProductFeatures(): ReadProductFeatures alone; the number of features.
Napi::Value ReadFeatures(const Napi::CallbackInfo& info) {
  std::vector<ProductFeature> features;
  if (ReadProductFeatures(package.get(), features) != ERROR_SUCCESS) return Napi::Number::New(info.Env(), -1);
  return Napi::Number::New(info.Env(), static_cast<double>(features.size()));
}

// bareQuery(path, sql): opens the package, runs the query and reads every field
// of every row as text, then closes; the number of characters read.
Napi::Value BareQuery(const Napi::CallbackInfo& info) {
  const std::wstring query = ovra::WideFromUtf8(info[1].As<Napi::String>().Utf8Value());
  MSIHANDLE raw = 0;
  if (MsiOpenDatabaseW(PathArgument(info).c_str(), MSIDBOPEN_READONLY, &raw) != ERROR_SUCCESS) {
    return Napi::Number::New(info.Env(), -1);
  }
  const UniqueMsiHandle database(raw);
  if (MsiDatabaseOpenViewW(database.get(), query.c_str(), &raw) != ERROR_SUCCESS) {
    return Napi::Number::New(info.Env(), -1);
  }
  const UniqueMsiHandle view(raw);
  MsiViewExecute(view.get(), 0);
  double characters = 0;
  std::wstring text;
  while (MsiViewFetch(view.get(), &raw) == ERROR_SUCCESS) {
    const UniqueMsiHandle record(raw);
    const UINT fields = MsiRecordGetFieldCount(record.get());
    for (UINT field = 1; field <= fields; ++field) {
      ReadRecordString(record.get(), field, text);
      characters += static_cast<double>(text.size());
    }
  }
  return Napi::Number::New(info.Env(), characters);
}

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  exports.Set("openPackage", Napi::Function::New(env, OpenPackage));
  exports.Set("readProductFeatures", Napi::Function::New(env, ReadFeatures));
  exports.Set("bareQuery", Napi::Function::New(env, BareQuery));
  return exports;
}

}  // namespace

NODE_API_MODULE(package_bench_addon, Init)
