// The installer's records as script objects: one property per field, in this order.
#pragma once

#include "installer_vesk/bridge/converters.h"
#include "installer_vesk/conflicting_product.h"
#include "msi_wrapper/package_queries.h"

namespace electron::node_interop::v8_helpers::type_converters {

template <>
struct RecordShape<installer::msi_wrapper::ProductFeature::ConditionalInstallLevel> {
  static constexpr auto fields() {
    using Level = installer::msi_wrapper::ProductFeature::ConditionalInstallLevel;
    return std::make_tuple(MakeField("condition", &Level::condition), MakeField("installLevel", &Level::installLevel));
  }
};

template <>
struct RecordShape<installer::msi_wrapper::ProductFeature> {
  static constexpr auto fields() {
    using Feature = installer::msi_wrapper::ProductFeature;
    return std::make_tuple(
        MakeField("name", &Feature::name), MakeField("parentName", &Feature::parentName),
        MakeField("displayName", &Feature::displayName), MakeField("description", &Feature::description),
        MakeField("activeInstallLevel", &Feature::activeInstallLevel),
        MakeField("defaultInstallLevel", &Feature::defaultInstallLevel), MakeField("cost", &Feature::cost),
        MakeField("enabled", &Feature::enabled), MakeField("visible", &Feature::visible));
  }
};

template <>
struct RecordShape<installer::InstalledProductInfo> {
  static constexpr auto fields() {
    using Info = installer::InstalledProductInfo;
    return std::make_tuple(MakeField("productName", &Info::productName), MakeField("productCode", &Info::productCode),
                           MakeField("isBeta", &Info::isBeta), MakeField("isQarn", &Info::isQarn),
                           MakeField("isTheSame", &Info::isTheSame), MakeField("isDowngrade", &Info::isDowngrade));
  }
};

}  // namespace electron::node_interop::v8_helpers::type_converters
