# Tests that run a program under the launcher get a world of their own: they
# neither join a world a developer started with `zelsim start` nor the world of
# a zelsim run that ctest itself was started in.
function(zelsim_private_world)
  set_tests_properties(${ARGN} PROPERTIES
    ENVIRONMENT "ZELSIM_RUNTIME_DIR=${CMAKE_BINARY_DIR}/zelsim-no-started-world"
    ENVIRONMENT_MODIFICATION "ZELSIM_SERVER=unset:")
endfunction()
