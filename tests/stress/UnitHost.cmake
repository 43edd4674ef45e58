# The host side shared by the stress tests, the fault tests and the fuzz
# targets that drive whole components, and the plug-in tests; included by
# whichever folder comes first.
include_guard(GLOBAL)
add_library(vxunithost STATIC "${CMAKE_CURRENT_LIST_DIR}/UnitHost.cpp")
target_include_directories(vxunithost PUBLIC "${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(vxunithost PUBLIC vxplatform PRIVATE ${CMAKE_DL_LIBS})
target_compile_definitions(vxunithost PRIVATE
    VX_BUNDLE_DIR="${VX_BUNDLE_DIR}"
    VX_ENGINE_DIR="${VX_ENGINE_DIR}"
    VX_TEST_UNIT_BUNDLE="${CMAKE_BINARY_DIR}/tests/aufw_unit/TestUnit.component")
add_dependencies(vxunithost vxplugin aufw_test_unit vxengine_sse3)
vx_warnings(vxunithost)
