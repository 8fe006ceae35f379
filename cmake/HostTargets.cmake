# How every product library of the host is compiled: size-optimised, warnings as errors, no exceptions or RTTI
# (the host uses neither), and one section per function so that the linker can drop what the exe never calls.
function(host_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${HOST_WARNINGS} -Os -ffunction-sections -fdata-sections
                         -fno-exceptions -fno-rtti)
endfunction()
