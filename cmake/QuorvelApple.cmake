# Apple build settings: 64-bit Arm, the oldest macOS each deliverable supports, Objective-C++
# with ARC for the platform adapters, and the update framework that macos_services links.
#
# quorvel-host and quorvel_chat_codec support macOS 11 and later, macos_services macOS 15 and
# later. CMake reads the deployment target from the folder a target is defined in, so the tree
# defaults to QV_MACOS_DEPLOYMENT_TARGET and the folders of macos_services switch to
# QV_SERVICES_DEPLOYMENT_TARGET through qv_apple_services_directory().

enable_language(OBJCXX)

if(NOT CMAKE_OSX_ARCHITECTURES)
  set(CMAKE_OSX_ARCHITECTURES arm64)
endif()

set(QV_MACOS_DEPLOYMENT_TARGET "11.0" CACHE STRING
  "Oldest macOS for quorvel-host and quorvel_chat_codec")
set(QV_SERVICES_DEPLOYMENT_TARGET "15.0" CACHE STRING "Oldest macOS for macos_services")
set(CMAKE_OSX_DEPLOYMENT_TARGET ${QV_MACOS_DEPLOYMENT_TARGET})

# The adapters rely on ARC for every Foundation object and block they keep.
add_compile_options($<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)

# Sparkle 2: the folder Sparkle.framework as unpacked from its release archive. The application
# bundle carries the same framework in Contents/Frameworks, where macos_services finds it at run
# time. An empty setting (a preset passing an unset environment variable) means: search for it.
if(DEFINED QV_SPARKLE_FRAMEWORK AND NOT QV_SPARKLE_FRAMEWORK)
  unset(QV_SPARKLE_FRAMEWORK CACHE)
endif()
find_library(QV_SPARKLE_FRAMEWORK NAMES Sparkle
  DOC "Sparkle.framework (Sparkle 2) that macos_services links")
get_filename_component(sparkle_name "${QV_SPARKLE_FRAMEWORK}" NAME)
if(NOT sparkle_name STREQUAL "Sparkle.framework" OR NOT IS_DIRECTORY "${QV_SPARKLE_FRAMEWORK}")
  message(FATAL_ERROR "Sparkle.framework not found (${QV_SPARKLE_FRAMEWORK}): configure with "
    "-DQV_SPARKLE_FRAMEWORK=/path/to/Sparkle.framework")
endif()
# qv_sparkle: compile against Sparkle's headers as system headers (the project's warning flags
# are for its own code) and link the framework weakly: a process that has no Sparkle where the
# run-time search path points (any executable outside the application bundle) still loads the
# module and its cleanup functions, and "start" reports the missing framework as an error.
get_filename_component(sparkle_folder "${QV_SPARKLE_FRAMEWORK}" DIRECTORY)
add_library(qv_sparkle INTERFACE)
target_compile_options(qv_sparkle INTERFACE "SHELL:-iframework \"${sparkle_folder}\"")
target_link_options(qv_sparkle INTERFACE "-F${sparkle_folder}" "LINKER:-weak_framework,Sparkle")
set(QV_APPLICATION_FRAMEWORKS_RPATH "@executable_path/../Frameworks" CACHE STRING
  "Where macos_services looks for Sparkle.framework at run time (the application's Frameworks)")

# Switches the calling folder, and the folder macos/ that defines macos_services, to the
# deployment target of macos_services. The setting for macos/ is made when that folder has been
# read, so that it holds whatever macos/CMakeLists.txt does.
macro(qv_apple_services_directory)
  set(CMAKE_OSX_DEPLOYMENT_TARGET ${QV_SERVICES_DEPLOYMENT_TARGET})
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR}/macos
    CALL set CMAKE_OSX_DEPLOYMENT_TARGET ${QV_SERVICES_DEPLOYMENT_TARGET})
endmacro()

# The Apple side of macos_services, once the whole tree is read: the frameworks it links and the
# run-time search path of the application bundle. The Node-API symbols stay undefined and are
# bound to the hosting process when the module is loaded (qv_add_napi_module).
function(qv_apple_configure_services)
  if(NOT TARGET macos_services)
    return()
  endif()
  # Every folder under macos/ builds part of macos_services.
  set(folders ${PROJECT_SOURCE_DIR}/macos)
  while(folders)
    list(POP_FRONT folders folder)
    get_directory_property(oldest DIRECTORY ${folder} DEFINITION CMAKE_OSX_DEPLOYMENT_TARGET)
    if(NOT oldest STREQUAL QV_SERVICES_DEPLOYMENT_TARGET)
      message(FATAL_ERROR "${folder} builds for macOS ${oldest}, not "
        "${QV_SERVICES_DEPLOYMENT_TARGET}: call qv_apple_services_directory() there")
    endif()
    get_directory_property(subfolders DIRECTORY ${folder} SUBDIRECTORIES)
    list(APPEND folders ${subfolders})
  endwhile()
  # The Objective-C runtime and CoreFoundation are named too: Foundation does not re-export
  # them, and a symbol the linker cannot bind to a library would be left to the flat lookup
  # that -undefined dynamic_lookup allows for Node-API.
  target_link_libraries(macos_services PRIVATE qv_sparkle "-framework Foundation"
    "-framework Security" "-framework CoreFoundation" objc)
  set_target_properties(macos_services PROPERTIES
    INSTALL_RPATH ${QV_APPLICATION_FRAMEWORKS_RPATH}
    BUILD_WITH_INSTALL_RPATH ON)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL qv_apple_configure_services)
