# qv_cleanup_platform on macOS: the platform operations over Foundation, Security and libproc.
qv_apple_services_directory()
add_library(qv_cleanup_platform STATIC apple/platform_apple.mm)
target_link_libraries(qv_cleanup_platform
  PUBLIC qv_cleanup_core "-framework Foundation" "-framework Security")
