// The addon's entry: the class table of the script classes and module registration.
#include <napi.h>

#include <memory>
#include <utility>

#include "installer_vesk/application.h"
#include "installer_vesk/bridge/class_registry.h"
#include "installer_vesk/installer_controller.h"
#include "installer_vesk/installer_records.h"
#include "installer_vesk/msi_diagnostics_trace.h"
#include "installer_vesk/msi_package_info.h"
#include "installer_vesk/msi_product_info.h"
#include "installer_vesk/msi_setup_manager.h"
#include "installer_vesk/named_object_trace.h"
#include "installer_vesk/trace_classes.h"
#include "installer_vesk/trace_record.h"
#include "installer_vesk/tracer.h"

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
  factories["installer_controller"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<AppController>());
    addMethod(*wrapper, "reboot", &AppController::reboot);
    addMethod(*wrapper, "startProduct", &AppController::startProduct);
    addMethod(*wrapper, "getCommandLine", &AppController::getCommandLine);
    addMethod(*wrapper, "getWindowsVersionProperty", &AppController::getWindowsVersionProperty);
    addMethod(*wrapper, "getCurrentPath", &AppController::getCurrentPath);
    addMethod(*wrapper, "fixBeta", &AppController::fixBeta);
    addMethod(*wrapper, "hideSplashScreen", &AppController::hideSplashScreen);
    addMethod(*wrapper, "getMachineId", &AppController::getMachineId);
    return wrapper;
  };
  factories["msi_product_info"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<MsiProductInfo>());
    addMethod(*wrapper, "isValid", &MsiProductInfo::isValid);
    addMethod(*wrapper, "getPackageCode", &MsiProductInfo::getPackageCode);
    return wrapper;
  };
  factories["msi_package_info"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<MsiPackageInfo>());
    addMethod(*wrapper, "getProductName", &MsiPackageInfo::getProductName);
    addMethod(*wrapper, "getInstallDirectory", &MsiPackageInfo::getInstallDirectory);
    addMethod(*wrapper, "getMsiFilePath", &MsiPackageInfo::getMsiFilePath);
    addMethod(*wrapper, "getProductCode", &MsiPackageInfo::getProductCode);
    addMethod(*wrapper, "getEdition", &MsiPackageInfo::getEdition);
    addMethod(*wrapper, "getProperty", &MsiPackageInfo::getProperty);
    addMethod(*wrapper, "getProductFeatures", &MsiPackageInfo::getProductFeatures);
    addMethod(*wrapper, "getSetupType", &MsiPackageInfo::getSetupType);
    addMethod(*wrapper, "getCabFileNames", &MsiPackageInfo::getCabFileNames);
    addMethod(*wrapper, "getConflictedProductInfo", &MsiPackageInfo::getConflictedProductInfo);
    addMethod(*wrapper, "getRebrandingCode", &MsiPackageInfo::getRebrandingCode);
    addMethod(*wrapper, "getPremiumLink", &MsiPackageInfo::getPremiumLink);
    addMethod(*wrapper, "executeQuery", &MsiPackageInfo::executeQuery);
    return wrapper;
  };
  factories["application"] = [](Napi::Env env) {
    auto wrapper = MakeClassWrapper(env, std::make_shared<Application>());
    addMethod(*wrapper, "run", &Application::run);
    addMethod(*wrapper, "join", &Application::join);
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
  // The bridge's records are the installer's own; the process-wide tracer lives
  // as long as the process (its reference count is not used).
  electron::node_interop::BridgeTrace trace{ovra::objptr_t<ovra::ITracer>::Retain(installer::GetTracer().get()),
                                            installer::kInstallerTraceLevel, installer::kInstallerTag};
  return electron::node_interop::RegisterModule(env, exports, installer::MakeFactoryTable(), std::move(trace));
}

}  // namespace

NODE_API_MODULE(installer_vesk, Init)
