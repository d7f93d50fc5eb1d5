# qv_updater_platform on macOS: the update framework (Sparkle 2) behind the seam in framework.h,
# with QuorvelUpdater as its user driver and delegate, and the services of platform.h.
qv_apple_services_directory()
add_library(qv_updater_platform STATIC
  apple/QuorvelUpdater.mm apple/framework_apple.mm apple/sparkle_convert.mm)
target_link_libraries(qv_updater_platform
  PUBLIC qv_source_root qv_common qv_sparkle "-framework Foundation")
