// The addon's entry: the class table of the script classes and module registration.
#include <napi.h>

#include <memory>

#include "installer_vesk/bridge/class_registry.h"
#include "installer_vesk/msi_diagnostics_trace.h"
#include "installer_vesk/msi_setup_manager.h"
#include "installer_vesk/named_object_trace.h"
#include "installer_vesk/trace_classes.h"

namespace installer {
namespace {

using electron::node_interop::FactoryTable;
using electron::node_interop::MakeClassWrapper;
using electron::node_interop::v8_helpers::addMethod;

FactoryTable MakeFactoryTable() {
  FactoryTable factories;
  factories["trace_helper"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<TraceHelper>());
    addMethod(*wrapper, "trace", &TraceHelper::trace);
    return wrapper;
  };
  factories["debug_configuration"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<DebugConfiguration>());
    addMethod(*wrapper, "isDebug", &DebugConfiguration::isDebug);
    return wrapper;
  };
  factories["tracer_controller"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<TraceController>());
    addMethod(*wrapper, "turnOnTraces", &TraceController::turnOnTraces);
    addMethod(*wrapper, "turnOffTraces", &TraceController::turnOffTraces);
    addMethod(*wrapper, "setTraceLevel", &TraceController::setTraceLevel);
    addMethod(*wrapper, "getTraceState", &TraceController::getTraceState);
    return wrapper;
  };
  factories["msi_setup_manager"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, MsiSetupManager::instance());
    addMethod(*wrapper, "runPreinstallTask", &MsiSetupManager::runPreinstallTask);
    addMethod(*wrapper, "runSetupTask", &MsiSetupManager::runSetupTask);
    addMethod(*wrapper, "runUninstallProduct", &MsiSetupManager::runUninstallProduct);
    addMethod(*wrapper, "getMsiLogFlags", &MsiSetupManager::getMsiLogFlags);
    addMethod(*wrapper, "initLog", &MsiSetupManager::initLog);
    addMethod(*wrapper, "cancelTask", &MsiSetupManager::cancelTask);
    return wrapper;
  };
  return factories;
}

}  // namespace
}  // namespace installer

namespace {

Napi::Object Init(Napi::Env env, Napi::Object exports) {
  installer::TraceMsiDiagnostics();
  installer::TraceNamedObjectRefusals();
  return electron::node_interop::RegisterModule(env, exports, installer::MakeFactoryTable());
}

}  // namespace

NODE_API_MODULE(installer_vesk, Init)
