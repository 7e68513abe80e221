// The engine's C functions on installed products, answered from the state
// folder's registry.
#include <algorithm>
#include <filesystem>

#include "store/product_store.h"
#include "api/boundary.h"
#include "engine/text.h"
#include "msi.h"
#include "api/msi_objects.h"
#include "ovra/strings.h"

using namespace linux_msi;

namespace {

constexpr std::size_t kGuidChars = 38;
constexpr std::size_t kMaxFeatureChars = 38;

// Product properties that exist for every product, empty when not recorded.
bool IsProductProperty(const std::wstring& name) {
  static const wchar_t* const names[] = {
      INSTALLPROPERTY_PACKAGENAME,   INSTALLPROPERTY_TRANSFORMS,      INSTALLPROPERTY_LANGUAGE,
      INSTALLPROPERTY_PRODUCTNAME,   INSTALLPROPERTY_ASSIGNMENTTYPE,  INSTALLPROPERTY_INSTANCETYPE,
      INSTALLPROPERTY_PACKAGECODE,   INSTALLPROPERTY_VERSION,         INSTALLPROPERTY_PRODUCTICON,
      INSTALLPROPERTY_INSTALLEDPRODUCTNAME, INSTALLPROPERTY_VERSIONSTRING, INSTALLPROPERTY_HELPLINK,
      INSTALLPROPERTY_HELPTELEPHONE, INSTALLPROPERTY_INSTALLLOCATION, INSTALLPROPERTY_INSTALLSOURCE,
      INSTALLPROPERTY_INSTALLDATE,   INSTALLPROPERTY_PUBLISHER,       INSTALLPROPERTY_LOCALPACKAGE,
      INSTALLPROPERTY_URLINFOABOUT,  INSTALLPROPERTY_URLUPDATEINFO,   INSTALLPROPERTY_VERSIONMINOR,
      INSTALLPROPERTY_VERSIONMAJOR,  INSTALLPROPERTY_PRODUCTID,       INSTALLPROPERTY_REGCOMPANY,
      INSTALLPROPERTY_REGOWNER};
  return std::any_of(std::begin(names), std::end(names), [&](const wchar_t* known) { return name == known; });
}

// Copies a code or name into a caller's fixed-size buffer of `limit` characters and a terminator.
void CopyFixed(const std::wstring& text, LPWSTR buffer, std::size_t limit) {
  const std::size_t length = std::min(text.size(), limit);
  std::copy_n(text.begin(), length, buffer);
  buffer[length] = L'\0';
}

}  // namespace

extern "C" {

INSTALLSTATE WINAPI MsiQueryProductStateW(LPCWSTR szProduct) {
  return Guarded(INSTALLSTATE_UNKNOWN, [&]() -> INSTALLSTATE {
    if (!IsGuid(szProduct)) {
      return INSTALLSTATE_INVALIDARG;
    }
    const auto store = ProductStore::ForCurrentHome();
    return store && store->IsRegistered(AsciiUpper(szProduct)) ? INSTALLSTATE_DEFAULT : INSTALLSTATE_UNKNOWN;
  });
}

UINT WINAPI MsiGetProductInfoW(LPCWSTR szProduct, LPCWSTR szAttribute, LPWSTR lpValueBuf, LPDWORD pcchValueBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!IsGuid(szProduct) || !szAttribute || (lpValueBuf && !pcchValueBuf)) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto store = ProductStore::ForCurrentHome();
    if (!store) {
      return ERROR_UNKNOWN_PRODUCT;
    }
    std::wstring value;
    UINT result = store->GetInfo(AsciiUpper(szProduct), szAttribute, value);
    if (result == ERROR_UNKNOWN_PROPERTY && IsProductProperty(szAttribute)) {
      result = ERROR_SUCCESS;
    }
    if (result != ERROR_SUCCESS || !pcchValueBuf) {
      return result;
    }
    return CopyToBuffer(value, lpValueBuf, pcchValueBuf);
  });
}

UINT WINAPI MsiGetProductCodeW(LPCWSTR szComponent, LPWSTR lpBuf39) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!IsGuid(szComponent) || !lpBuf39) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto store = ProductStore::ForCurrentHome();
    const std::vector<std::wstring> products =
        store ? store->ProductsOfComponent(AsciiUpper(szComponent)) : std::vector<std::wstring>();
    if (products.empty()) {
      return ERROR_UNKNOWN_COMPONENT;
    }
    CopyFixed(products.front(), lpBuf39, kGuidChars);
    return ERROR_SUCCESS;
  });
}

INSTALLSTATE WINAPI MsiGetComponentPathW(LPCWSTR szProduct, LPCWSTR szComponent, LPWSTR lpPathBuf, LPDWORD pcchBuf) {
  return Guarded(INSTALLSTATE_UNKNOWN, [&]() -> INSTALLSTATE {
    if (!IsGuid(szProduct) || !IsGuid(szComponent) || (lpPathBuf && !pcchBuf)) {
      return INSTALLSTATE_INVALIDARG;
    }
    const auto store = ProductStore::ForCurrentHome();
    InstalledComponent component;
    if (!store || !store->Component(AsciiUpper(szProduct), AsciiUpper(szComponent), component)) {
      return INSTALLSTATE_UNKNOWN;
    }
    INSTALLSTATE state = static_cast<INSTALLSTATE>(component.state);
    std::error_code error;
    // A file or folder key path must exist; a registry one ("02:\\...") is recorded only.
    if (state == INSTALLSTATE_LOCAL && !component.key_path.empty() && component.key_path[0] == L'/' &&
        !std::filesystem::exists(ovra::Utf8FromWide(component.key_path), error)) {
      state = INSTALLSTATE_ABSENT;
    }
    if (pcchBuf && CopyToBuffer(component.key_path, lpPathBuf, pcchBuf) == ERROR_MORE_DATA) {
      return INSTALLSTATE_MOREDATA;
    }
    return state;
  });
}

UINT WINAPI MsiEnumProductsW(DWORD iProductIndex, LPWSTR lpProductBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!lpProductBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto store = ProductStore::ForCurrentHome();
    std::wstring code;
    if (!store || !store->ProductAt(iProductIndex, code)) {
      return ERROR_NO_MORE_ITEMS;
    }
    CopyFixed(code, lpProductBuf, kGuidChars);
    return ERROR_SUCCESS;
  });
}

UINT WINAPI MsiEnumRelatedProductsW(LPCWSTR lpUpgradeCode, DWORD dwReserved, DWORD iProductIndex,
                                    LPWSTR lpProductBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!IsGuid(lpUpgradeCode) || dwReserved != 0 || !lpProductBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto store = ProductStore::ForCurrentHome();
    std::wstring code;
    if (!store || !store->RelatedProductAt(AsciiUpper(lpUpgradeCode), iProductIndex, code)) {
      return ERROR_NO_MORE_ITEMS;
    }
    CopyFixed(code, lpProductBuf, kGuidChars);
    return ERROR_SUCCESS;
  });
}

UINT WINAPI MsiEnumFeaturesW(LPCWSTR szProduct, DWORD iFeatureIndex, LPWSTR lpFeatureBuf, LPWSTR lpParentBuf) {
  return Guarded(ERROR_FUNCTION_FAILED, [&]() -> UINT {
    if (!IsGuid(szProduct) || !lpFeatureBuf) {
      return ERROR_INVALID_PARAMETER;
    }
    const auto store = ProductStore::ForCurrentHome();
    const std::wstring product = AsciiUpper(szProduct);
    if (!store || !store->IsRegistered(product)) {
      return ERROR_UNKNOWN_PRODUCT;
    }
    InstalledFeature feature;
    if (!store->FeatureAt(product, iFeatureIndex, feature)) {
      return ERROR_NO_MORE_ITEMS;
    }
    CopyFixed(feature.name, lpFeatureBuf, kMaxFeatureChars);
    if (lpParentBuf) {
      CopyFixed(feature.parent, lpParentBuf, kMaxFeatureChars);
    }
    return ERROR_SUCCESS;
  });
}

INSTALLSTATE WINAPI MsiQueryFeatureStateW(LPCWSTR szProduct, LPCWSTR szFeature) {
  return Guarded(INSTALLSTATE_UNKNOWN, [&]() -> INSTALLSTATE {
    if (!IsGuid(szProduct) || !szFeature) {
      return INSTALLSTATE_INVALIDARG;
    }
    const auto store = ProductStore::ForCurrentHome();
    return store ? static_cast<INSTALLSTATE>(store->FeatureState(AsciiUpper(szProduct), szFeature))
                 : INSTALLSTATE_UNKNOWN;
  });
}

}  // extern "C"
