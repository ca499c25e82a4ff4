# rivak_delay_import(<target> <dll>...): <target> imports the given system
# DLLs late, through delay-import libraries made with MinGW-w64's dlltool, so
# they load on first use under the DLL search the program has set up by then
# (ui/dll_safety.cpp). The export names come from the toolchain's own import
# library of each DLL. They carry the ordinary libraries' names (libole32.a...)
# in a folder searched first by <target> alone, so every "-lole32" on its link
# line, from any library it links or from the compiler's defaults, takes them.
function(rivak_delay_import target)
  find_program(RIVAK_DLLTOOL NAMES ${RIVAK_MINGW}-dlltool dlltool REQUIRED)
  find_program(RIVAK_NM NAMES ${RIVAK_MINGW}-nm nm REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  file(MAKE_DIRECTORY ${dir})
  foreach(dll ${ARGN})
    find_library(RIVAK_IMPLIB_${dll} NAMES ${dll} REQUIRED)
    set(def ${dir}/${dll}.def)
    set(lib ${dir}/lib${dll}.a)
    if(NOT EXISTS ${lib} OR ${RIVAK_IMPLIB_${dll}} IS_NEWER_THAN ${lib})
      execute_process(COMMAND ${RIVAK_NM} -g --defined-only ${RIVAK_IMPLIB_${dll}}
        OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
      if(rc)
        message(FATAL_ERROR "nm failed on ${RIVAK_IMPLIB_${dll}}")
      endif()
      string(REGEX MATCHALL "__imp_[A-Za-z0-9_@]+" names "${symbols}")
      list(TRANSFORM names REPLACE "^__imp_" "")
      list(REMOVE_DUPLICATES names)
      list(SORT names)
      list(JOIN names "\n" body)
      file(WRITE ${def} "LIBRARY ${dll}.dll\nEXPORTS\n${body}\n")
      execute_process(COMMAND ${RIVAK_DLLTOOL} --input-def ${def} --dllname ${dll}.dll
        --output-delaylib ${lib} RESULT_VARIABLE rc)
      if(rc)
        message(FATAL_ERROR "dlltool could not make ${lib}")
      endif()
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${lib})
  endforeach()
  target_link_directories(${target} BEFORE PRIVATE ${dir})
endfunction()
