# Staging of the Node-API modules into the npm packages under packages/: each module goes where
# its package's loader (node-gyp-build) looks for it, prebuilds/<platform>-<arch>/<name>.node,
# with <platform> and <arch> spelt as Node's process.platform and process.arch spell them.
#
#   cmake --install build/default --component node-packages --prefix packages --strip
#
# The component is left out of a plain `cmake --install`.
string(TOLOWER "${CMAKE_SYSTEM_NAME}" QV_NODE_PLATFORM)  # darwin, linux
if(APPLE AND CMAKE_OSX_ARCHITECTURES)
  set(_qv_arch "${CMAKE_OSX_ARCHITECTURES}")
else()
  set(_qv_arch "${CMAKE_SYSTEM_PROCESSOR}")
endif()
if(_qv_arch MATCHES "^(x86_64|AMD64|amd64)$")
  set(QV_NODE_ARCH x64)
elseif(_qv_arch MATCHES "^(aarch64|arm64|ARM64)$")
  set(QV_NODE_ARCH arm64)
else()
  # A universal build (two architectures) or another processor: named as given.
  string(REPLACE ";" "+" QV_NODE_ARCH "${_qv_arch}")
endif()
set(QV_PREBUILD_TAG "${QV_NODE_PLATFORM}-${QV_NODE_ARCH}")

# qv_install_prebuild(<module target> <package folder under packages/>)
function(qv_install_prebuild target package)
  install(TARGETS ${target} LIBRARY DESTINATION ${package}/prebuilds/${QV_PREBUILD_TAG}
    COMPONENT node-packages EXCLUDE_FROM_ALL)
endfunction()
