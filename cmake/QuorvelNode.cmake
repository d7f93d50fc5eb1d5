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

# qv_add_napi_module(<target> <sources>...)
# A shared module named <target>.node whose Node-API symbols are left to the hosting process.
function(qv_add_napi_module target)
  add_library(${target} MODULE ${ARGN})
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".node"
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/modules
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_libraries(${target} PRIVATE qv_napi_headers)
  if(APPLE)
    target_link_options(${target} PRIVATE -undefined dynamic_lookup)
  endif()
endfunction()
