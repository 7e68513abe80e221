# Windows-only parts of shipping a module: its version resource, and the release
# build's finishing steps (debug information split off, stripping, signing).
option(INSTALLER_RELEASE "Production build: the addon is stripped (debug information in a file beside it) and signed when a certificate is given" OFF)
set(INSTALLER_SIGN_CERT "" CACHE FILEPATH "Release: PEM certificate (chain) to sign the addon with")
set(INSTALLER_SIGN_KEY "" CACHE FILEPATH "Release: PEM private key of the signing certificate")
set(INSTALLER_SIGN_PASSWORD_FILE "" CACHE FILEPATH "Release: file holding the private key's password, if it has one")

if(NOT MINGW)
  if(INSTALLER_RELEASE)
    message(FATAL_ERROR "INSTALLER_RELEASE is for the Windows builds")
  endif()
  return()
endif()

enable_language(RC)

# The product's version is package.json's.
file(READ "${PROJECT_SOURCE_DIR}/package.json" package_json)
string(JSON PRODUCT_VERSION GET "${package_json}" version)
string(JSON PRODUCT_DESCRIPTION GET "${package_json}" description)
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/package.json")
if(NOT PRODUCT_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)")
  message(FATAL_ERROR "package.json: version '${PRODUCT_VERSION}' does not start with major.minor.patch")
endif()
# The numeric form takes major.minor.patch; a pre-release suffix stays in the text form.
set(PRODUCT_VERSION_NUMBERS "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},0")

# add_version_resource(<target> PRODUCT_NAME <name> ORIGINAL_FILENAME <file>):
# a VERSIONINFO resource with the product version and package.json's description.
function(add_version_resource target)
  cmake_parse_arguments(ARG "" "PRODUCT_NAME;ORIGINAL_FILENAME" "" ${ARGN})
  set(VERSION_NUMBERS "${PRODUCT_VERSION_NUMBERS}")
  set(VERSION_TEXT "${PRODUCT_VERSION}")
  set(PRODUCT_NAME "${ARG_PRODUCT_NAME}")
  set(ORIGINAL_FILENAME "${ARG_ORIGINAL_FILENAME}")
  get_filename_component(INTERNAL_NAME "${ARG_ORIGINAL_FILENAME}" NAME_WE)
  string(REPLACE "\"" "\"\"" FILE_DESCRIPTION "${PRODUCT_DESCRIPTION}")  # rc quoting
  set(rc_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc_file}" @ONLY)
  target_sources(${target} PRIVATE "${rc_file}")
endfunction()

# finish_windows_release(<target>): in a release build, the linked module goes to
# unstripped/; the build folder receives the stripped (and, with a certificate,
# signed) module and its debug information, <name>.debug, which it links to.
function(finish_windows_release target)
  if(NOT INSTALLER_RELEASE)
    return()
  endif()
  if((INSTALLER_SIGN_CERT AND NOT INSTALLER_SIGN_KEY) OR (INSTALLER_SIGN_KEY AND NOT INSTALLER_SIGN_CERT))
    message(FATAL_ERROR "Signing needs both INSTALLER_SIGN_CERT and INSTALLER_SIGN_KEY")
  endif()
  set(sign_inputs)
  set(action "Stripping")
  if(INSTALLER_SIGN_CERT)
    set(action "Stripping and signing")
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    set(sign_inputs "${INSTALLER_SIGN_CERT}" "${INSTALLER_SIGN_KEY}" ${INSTALLER_SIGN_PASSWORD_FILE})
  endif()
  find_program(MINGW_OBJCOPY NAMES ${TOOLCHAIN_PREFIX}-objcopy objcopy REQUIRED)

  set(unstripped_dir "${CMAKE_BINARY_DIR}/unstripped")
  set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${unstripped_dir}")
  get_target_property(prefix ${target} PREFIX)
  get_target_property(suffix ${target} SUFFIX)
  set(module "${CMAKE_BINARY_DIR}/${prefix}${target}${suffix}")
  add_custom_command(OUTPUT "${module}" "${module}.debug"
    COMMAND "${CMAKE_COMMAND}"
      "-DINPUT=$<TARGET_FILE:${target}>" "-DOUTPUT=${module}" "-DOBJCOPY=${MINGW_OBJCOPY}"
      "-DOSSLSIGNCODE=${OSSLSIGNCODE}" "-DSIGN_CERT=${INSTALLER_SIGN_CERT}" "-DSIGN_KEY=${INSTALLER_SIGN_KEY}"
      "-DSIGN_PASSWORD_FILE=${INSTALLER_SIGN_PASSWORD_FILE}" "-DDESCRIPTION=${PRODUCT_DESCRIPTION}"
      -P "${PROJECT_SOURCE_DIR}/cmake/FinishWindowsRelease.cmake"
    DEPENDS ${target} "${PROJECT_SOURCE_DIR}/cmake/FinishWindowsRelease.cmake" ${sign_inputs}
    COMMENT "${action} ${prefix}${target}${suffix}"
    VERBATIM)
  add_custom_target(${target}_release ALL DEPENDS "${module}")
endfunction()
