# clickburst_require(<variable> <package>): stops the configure when a lookup left <variable>
# empty, naming the Debian package that brings what is missing rather than the variables CMake
# could not fill. Usage: find_program(CPPCHECK cppcheck) then clickburst_require(CPPCHECK cppcheck)
function(clickburst_require variable package)
  if(NOT ${variable})
    message(FATAL_ERROR "${variable} not found: install the Debian package ${package} "
                        "(scripts/run.sh and scripts/test.sh install what they build with)")
  endif()
endfunction()
