# The Windows updater's resources. The resource script is made at build time
# from the dialog templates' one definition and the manifest header by a small
# program built with the build machine's own compiler (the cross compiler's
# programs cannot run here). Sets WQ2_UPDATER_RESOURCE_SCRIPT to the script.
find_program(WQ2_HOST_CXX NAMES g++ c++ REQUIRED)

set(_wq2_resources_dir ${CMAKE_CURRENT_BINARY_DIR}/resources)
set(_wq2_resources_src ${CMAKE_CURRENT_LIST_DIR})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_wq2_manifest_architecture amd64)
else()
  set(_wq2_manifest_architecture X86)
endif()

add_custom_command(
  OUTPUT ${_wq2_resources_dir}/make_resource_script
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_wq2_resources_dir}
  COMMAND ${WQ2_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -Wpedantic -Wshadow -Werror
          -I${_wq2_resources_src}
          ${_wq2_resources_src}/make_resource_script.cpp ${_wq2_resources_src}/dialog_templates.cpp
          -o ${_wq2_resources_dir}/make_resource_script
  DEPENDS ${_wq2_resources_src}/make_resource_script.cpp ${_wq2_resources_src}/dialog_templates.cpp
          ${_wq2_resources_src}/dialog_templates.h ${_wq2_resources_src}/resource_ids.h
          ${_wq2_resources_src}/updater_manifest.h
  COMMENT "Building make_resource_script for the build machine"
  VERBATIM)

add_custom_command(
  OUTPUT ${_wq2_resources_dir}/updater.rc ${_wq2_resources_dir}/updater.manifest
  COMMAND ${_wq2_resources_dir}/make_resource_script ${_wq2_manifest_architecture}
          ${_wq2_resources_dir}/updater.rc ${_wq2_resources_dir}/updater.manifest
  DEPENDS ${_wq2_resources_dir}/make_resource_script
  COMMENT "Writing the updater's resource script"
  VERBATIM)

set(WQ2_UPDATER_RESOURCE_SCRIPT ${_wq2_resources_dir}/updater.rc)
