# Node.js and the Node-API headers, and a helper that builds a Node-API module (.node).
find_program(QV_NODE node REQUIRED)

find_path(QV_NODE_API_INCLUDE node_api.h
  PATHS ${PROJECT_SOURCE_DIR}/node_modules/node-api-headers/include
  NO_DEFAULT_PATH)
if(NOT QV_NODE_API_INCLUDE)
  find_path(QV_NODE_API_INCLUDE node_api.h PATH_SUFFIXES node)
endif()
if(NOT QV_NODE_API_INCLUDE)
  message(FATAL_ERROR "Node-API headers not found: run scripts/setup.sh (npm ci installs node-api-headers)")
endif()

# Node-API headers and the Node-API version every module is written against. Static libraries
# that end up inside a module link it too, so one translation unit never sees another version.
set(QV_NAPI_VERSION 8)
add_library(qv_napi_headers INTERFACE)
target_include_directories(qv_napi_headers SYSTEM INTERFACE ${QV_NODE_API_INCLUDE})
target_compile_definitions(qv_napi_headers INTERFACE NAPI_VERSION=${QV_NAPI_VERSION})

# Any static library of the tree may end up inside a module, so everything is compiled with
# hidden visibility: only what a module marks for export leaves it.
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_OBJCXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

# The linker's export list of every module: the two Node-API registration entry points
# (napi_register_module_v1, node_api_module_get_api_version_v1) and nothing else. Hidden
# visibility alone does not hide the standard library's template instantiations (its headers
# mark them default), so the list is what keeps them in the module.
set(QV_NAPI_VERSION_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/napi_module/exports.version)
set(QV_NAPI_EXPORTED_SYMBOLS ${CMAKE_CURRENT_LIST_DIR}/napi_module/exports.txt)

# qv_add_napi_module(<target> <sources>...)
# A shared module named <target>.node whose Node-API symbols are left to the hosting process
# and which exports only its registration entry points.
function(qv_add_napi_module target)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".node"
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/modules)
  target_link_libraries(${target} PRIVATE qv_napi_headers)
  if(APPLE)
    target_link_options(${target} PRIVATE -undefined dynamic_lookup
      "LINKER:-exported_symbols_list,${QV_NAPI_EXPORTED_SYMBOLS}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QV_NAPI_EXPORTED_SYMBOLS})
  else()
    target_link_options(${target} PRIVATE "LINKER:--version-script=${QV_NAPI_VERSION_SCRIPT}")
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QV_NAPI_VERSION_SCRIPT})
  endif()
endfunction()
