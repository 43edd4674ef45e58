# Laying out component bundles:
#
#   NAME.component/Contents/Info.plist
#   NAME.component/Contents/MacOS/<executable>
#   NAME.component/Contents/Resources/AUPluginCocoaUI.bundle/
#
# The platform layer recognises a loaded shared object as a bundle's binary by
# that path, and reads the bundle's identifier from Info.plist.

# vx_bundle_layout(NAME name IDENTIFIER id [DESTINATION dir] [EXECUTABLE exe]
#                  [DISPLAY_NAME text] [VERSION x.y.z]
#                  [TYPE aufx] [SUBTYPE Dlay] [MANUFACTURER Vxta]
#                  [COMPONENT_NAME text] [FACTORY symbol] [OUT_DIR var])
# Writes Info.plist and the resources of NAME.component under DESTINATION
# (default: the current binary folder) at configure time. OUT_DIR receives the
# bundle's path.
function(vx_bundle_layout)
  cmake_parse_arguments(B "" "NAME;IDENTIFIER;DESTINATION;EXECUTABLE;DISPLAY_NAME;VERSION;TYPE;SUBTYPE;MANUFACTURER;COMPONENT_NAME;FACTORY;OUT_DIR" "" ${ARGN})
  if(NOT B_NAME OR NOT B_IDENTIFIER)
    message(FATAL_ERROR "vx_bundle_layout needs NAME and IDENTIFIER")
  endif()
  if(NOT B_DESTINATION)
    set(B_DESTINATION "${CMAKE_CURRENT_BINARY_DIR}")
  endif()
  if(NOT B_EXECUTABLE)
    set(B_EXECUTABLE "${B_NAME}")
  endif()
  if(NOT B_DISPLAY_NAME)
    set(B_DISPLAY_NAME "${B_NAME}")
  endif()
  if(NOT B_VERSION)
    set(B_VERSION "${PROJECT_VERSION}")
  endif()
  foreach(pair "TYPE;aufx" "SUBTYPE;Dlay" "MANUFACTURER;Vxta" "COMPONENT_NAME;Vextra-Audio: Delay"
               "FACTORY;CAUPluginFactory")
    list(GET pair 0 key)
    list(GET pair 1 fallback)
    if(NOT B_${key})
      set(B_${key} "${fallback}")
    endif()
  endforeach()

  # The component version packs major, minor and patch as 0xMMMMmmpp.
  string(REPLACE "." ";" parts "${B_VERSION}.0.0")
  list(GET parts 0 major)
  list(GET parts 1 minor)
  list(GET parts 2 patch)
  math(EXPR packed "(${major} << 16) | (${minor} << 8) | ${patch}")

  set(VX_BUNDLE_EXECUTABLE "${B_EXECUTABLE}")
  set(VX_BUNDLE_IDENTIFIER "${B_IDENTIFIER}")
  set(VX_BUNDLE_DISPLAY_NAME "${B_DISPLAY_NAME}")
  set(VX_BUNDLE_VERSION "${B_VERSION}")
  set(VX_COMPONENT_TYPE "${B_TYPE}")
  set(VX_COMPONENT_SUBTYPE "${B_SUBTYPE}")
  set(VX_COMPONENT_MANUFACTURER "${B_MANUFACTURER}")
  set(VX_COMPONENT_NAME "${B_COMPONENT_NAME}")
  set(VX_COMPONENT_VERSION "${packed}")
  set(VX_COMPONENT_FACTORY "${B_FACTORY}")

  set(bundle "${B_DESTINATION}/${B_NAME}.component")
  file(MAKE_DIRECTORY "${bundle}/Contents/MacOS" "${bundle}/Contents/Resources")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../Info.plist.in" "${bundle}/Contents/Info.plist" @ONLY)
  file(COPY "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../resources/AUPluginCocoaUI.bundle"
       DESTINATION "${bundle}/Contents/Resources")
  if(B_OUT_DIR)
    set(${B_OUT_DIR} "${bundle}" PARENT_SCOPE)
  endif()
endfunction()

# vx_make_bundle(target NAME name IDENTIFIER id [any vx_bundle_layout option])
# Lays out NAME.component and places the MODULE library `target` in
# Contents/MacOS as its executable (named like the bundle, no prefix or
# suffix).
function(vx_make_bundle target)
  cmake_parse_arguments(B "" "NAME;EXECUTABLE" "" ${ARGN})
  if(NOT B_EXECUTABLE)
    set(B_EXECUTABLE "${B_NAME}")
  endif()
  vx_bundle_layout(NAME "${B_NAME}" EXECUTABLE "${B_EXECUTABLE}" ${B_UNPARSED_ARGUMENTS}
                   OUT_DIR bundle)
  set_target_properties(${target} PROPERTIES
                        LIBRARY_OUTPUT_DIRECTORY "${bundle}/Contents/MacOS"
                        OUTPUT_NAME "${B_EXECUTABLE}"
                        PREFIX ""
                        SUFFIX "")
endfunction()
