# Node-API headers come from the npm packages node-api-headers and node-addon-api.
# The addon resolves napi_* symbols from the host at load time: on Linux they stay
# undefined in the module; on Windows they are delay-imported from "node.exe"
# through a library made from the .def file that node-api-headers ships, and
# source/install/node_host/ binds them to whichever process loads the addon.
set(NODE_API_HEADERS_DIR "${NODE_MODULES_DIR}/node-api-headers")
set(NODE_ADDON_API_DIR "${NODE_MODULES_DIR}/node-addon-api")
if(NOT EXISTS "${NODE_API_HEADERS_DIR}/include/node_api.h" OR NOT EXISTS "${NODE_ADDON_API_DIR}/napi.h")
  message(FATAL_ERROR "Node-API headers not found under ${NODE_MODULES_DIR}: run 'npm ci' first")
endif()

add_library(node_api INTERFACE)
target_include_directories(node_api SYSTEM INTERFACE
  "${NODE_API_HEADERS_DIR}/include" "${NODE_ADDON_API_DIR}")
target_compile_definitions(node_api INTERFACE
  NAPI_VERSION=8 NODE_ADDON_API_CPP_EXCEPTIONS NODE_ADDON_API_DISABLE_DEPRECATED)

if(MINGW)
  find_program(MINGW_DLLTOOL NAMES ${TOOLCHAIN_PREFIX}-dlltool dlltool REQUIRED)
  # The descriptor's symbol is named after the library's file name as given to
  # dlltool (__DELAY_IMPORT_DESCRIPTOR_libnode_api_delay_a): the hook refers to it.
  set(node_import_lib "${CMAKE_BINARY_DIR}/libnode_api_delay.a")
  add_custom_command(OUTPUT "${node_import_lib}"
    COMMAND "${MINGW_DLLTOOL}" -d "${NODE_API_HEADERS_DIR}/def/node_api.def" -y libnode_api_delay.a -D node.exe
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    DEPENDS "${NODE_API_HEADERS_DIR}/def/node_api.def"
    COMMENT "Delay-import library for node.exe")
  add_custom_target(node_api_import_lib DEPENDS "${node_import_lib}")
  add_dependencies(node_api node_api_import_lib)
  target_link_libraries(node_api INTERFACE "${node_import_lib}")
endif()

# add_node_addon(<name> <sources>...): a Node-API module <name>.node in the build folder.
# On Windows each addon also gets the hook that binds its Node-API imports to the host.
function(add_node_addon name)
  add_library(${name} MODULE ${ARGN})
  if(MINGW)
    target_sources(${name} PRIVATE "${PROJECT_SOURCE_DIR}/source/install/node_host/node_host_imports.cpp")
  endif()
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".node"
    LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  target_link_libraries(${name} PRIVATE node_api project_defaults)
endfunction()

include("${CMAKE_CURRENT_LIST_DIR}/WindowsModule.cmake")
