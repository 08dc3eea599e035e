# What the Windows build of clickburst.exe carries, read back from the file with the host's
# icoutils (wrestool, icotool) and binutils (objdump): no Windows or Wine needed.
#   CHECK=icons     one icon group, exactly 32x32 at 1 bpp, 32x32 and 16x16 at 4 bpp
#   CHECK=version   the fixed version record and its U.S. English string table
#   CHECK=manifest  the application manifest as resource 1: DPI awareness, themed controls
#   CHECK=pe        GUI subsystem, ASLR with high entropy, DEP, only system DLLs imported,
#                   and no import of mouse_event (it is bound by name at run time)
# Usage: cmake -DCHECK=icons -DEXE=clickburst.exe -DWORK_DIR=dir -DWRESTOOL=wrestool
#              -DICOTOOL=icotool -DOBJDUMP=objdump -P check_executable.cmake
cmake_minimum_required(VERSION 3.25)

# fail(<part>...): the parts make one message.
function(fail)
  string(JOIN "" message ${ARGV})
  message(FATAL_ERROR "${EXE}: ${message}")
endfunction()

# run(<out-var> <command>...): the command's standard output; a failing command fails the check.
function(run out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output ERROR_VARIABLE errors
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("${ARGN} failed (${status}): ${errors}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# The raw bytes of the resources of one type (and name), as lower-case hex.
function(read_resource_hex out type name)
  set(file ${WORK_DIR}/resource_${type}_${name}.bin)
  execute_process(COMMAND ${WRESTOOL} -x --raw --type=${type} --name=${name} ${EXE}
                  OUTPUT_FILE ${file} RESULT_VARIABLE status)
  file(SIZE ${file} size)
  if(NOT status EQUAL 0 OR size EQUAL 0)
    fail("no resource of type ${type} named ${name}")
  endif()
  file(READ ${file} hex HEX)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# ASCII text as the hex of its UTF-16LE code units, as a version record stores its strings.
function(utf16le_hex out text)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "(..)" "\\100" hex "${hex}")
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# The little-endian 32-bit word at byte `offset` of `hex`, as 8 hex digits.
function(dword_at out hex offset)
  math(EXPR start "${offset} * 2")
  string(SUBSTRING "${hex}" ${start} 8 bytes)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" word "${bytes}")
  set(${out} "${word}" PARENT_SCOPE)
endfunction()

function(check_icons)
  run(listing ${WRESTOOL} -l ${EXE})
  string(REGEX MATCHALL "--type=14 " groups "${listing}")
  string(REGEX MATCHALL "--type=3 " images "${listing}")
  list(LENGTH groups group_count)
  list(LENGTH images image_count)
  if(NOT group_count EQUAL 1 OR NOT image_count EQUAL 3)
    fail("want 1 icon group of 3 images, found ${group_count} groups and ${image_count} "
         "images:\n${listing}")
  endif()
  # The group, extracted as an .ico, lists the images it refers to.
  file(REMOVE_RECURSE ${WORK_DIR}/icons)
  file(MAKE_DIRECTORY ${WORK_DIR}/icons)
  run(ignored ${WRESTOOL} -x --type=14 -o ${WORK_DIR}/icons ${EXE})
  file(GLOB ico ${WORK_DIR}/icons/*.ico)
  run(entries ${ICOTOOL} -l ${ico})
  string(REGEX MATCHALL "--width=[0-9]+ --height=[0-9]+ --bit-depth=[0-9]+" found "${entries}")
  list(TRANSFORM found REPLACE "--width=([0-9]+) --height=([0-9]+) --bit-depth=([0-9]+)"
                               "\\1x\\2x\\3")
  list(SORT found)
  set(wanted 16x16x4 32x32x1 32x32x4)
  if(NOT found STREQUAL wanted)
    fail("icon group holds ${found} (width x height x bpp), want ${wanted}")
  endif()
endfunction()

function(check_version)
  read_resource_hex(record 16 1)
  string(FIND "${record}" "bd04effe" at)  # VS_FIXEDFILEINFO's signature, 0xFEEF04BD
  math(EXPR odd "${at} % 2")
  if(at EQUAL -1 OR odd)
    fail("no VS_FIXEDFILEINFO in the version record")
  endif()
  math(EXPR base "${at} / 2")
  # Field, byte offset from the signature, value.
  set(fields
      FileVersionMS 8 00010000 FileVersionLS 12 00000000
      ProductVersionMS 16 00010000 ProductVersionLS 20 00000000
      FileFlagsMask 24 0000003f FileFlags 28 00000000 FileOS 32 00000004
      FileType 36 00000001 FileSubtype 40 00000000)
  while(fields)
    list(POP_FRONT fields field offset wanted)
    math(EXPR position "${base} + ${offset}")
    dword_at(value "${record}" ${position})
    if(NOT value STREQUAL wanted)
      fail("${field} is 0x${value}, want 0x${wanted}")
    endif()
  endwhile()

  # A string is its key, NUL, padding to 32 bits, then its value and NUL.
  set(strings
      "FileVersion" "1.00" "ProductVersion" "1.00" "CompanyName" "clickburst developers"
      "ProductName" "clickburst" "InternalName" "clickburst"
      "OriginalFilename" "clickburst.exe")
  utf16le_hex(table "040904B0")
  string(FIND "${record}" "${table}0000" table_at)
  if(table_at EQUAL -1)
    fail("no string table 040904B0 (U.S. English, UTF-16)")
  endif()
  while(strings)
    list(POP_FRONT strings key value)
    utf16le_hex(key_hex "${key}")
    utf16le_hex(value_hex "${value}")
    if(NOT record MATCHES "${key_hex}0000(0000)?${value_hex}0000")
      fail("string ${key} is not \"${value}\"")
    endif()
  endwhile()
  utf16le_hex(translation "Translation")
  if(NOT record MATCHES "${translation}0000(0000)?0904b004")
    fail("Translation is not 0x0409, 1200")
  endif()
endfunction()

function(check_manifest)
  run(manifest ${WRESTOOL} -x --raw --type=24 --name=1 ${EXE})
  if(manifest STREQUAL "")
    fail("no application manifest (resource type 24, name 1)")
  endif()
  foreach(wanted "<dpiAwareness[^>]*>PerMonitorV2, PerMonitor</dpiAwareness>"
                 "<dpiAware[^>]*>true/pm</dpiAware>"
                 "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""
                 "requestedExecutionLevel level=\"asInvoker\"")
    if(NOT manifest MATCHES "${wanted}")
      fail("manifest lacks ${wanted}")
    endif()
  endforeach()
endfunction()

function(check_pe)
  run(headers ${OBJDUMP} -p ${EXE})
  if(NOT headers MATCHES "\nSubsystem[ \t]+00000002")
    fail("not a Windows GUI subsystem executable")
  endif()
  if(NOT headers MATCHES "\nDllCharacteristics[ \t]+([0-9a-fA-F]+)")
    fail("no DllCharacteristics in the optional header")
  endif()
  set(characteristics ${CMAKE_MATCH_1})
  math(EXPR missing "~0x${characteristics} & 0x160")
  if(NOT missing EQUAL 0)
    math(EXPR missing "${missing}" OUTPUT_FORMAT HEXADECIMAL)
    fail("DllCharacteristics 0x${characteristics} lacks ${missing} "
         "(HIGH_ENTROPY_VA 0x20, DYNAMIC_BASE 0x40, NX_COMPAT 0x100)")
  endif()

  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
  list(TRANSFORM imports REPLACE "DLL Name: " "")
  list(TRANSFORM imports TOLOWER)
  set(system_dlls kernel32.dll user32.dll gdi32.dll comctl32.dll msvcrt.dll winmm.dll
                  advapi32.dll ntdll.dll)
  foreach(dll IN LISTS imports)
    if(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^api-ms-win-")
      fail("imports ${dll}, which is not part of Windows: link it statically")
    endif()
  endforeach()
  if(headers MATCHES "[ \t]mouse_event[\r\n]")
    fail("the import table names mouse_event")
  endif()
endfunction()

foreach(variable CHECK EXE WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR})
if(NOT EXISTS ${EXE})
  fail("not built")
endif()
cmake_language(CALL check_${CHECK})
