# Fails when a file of the core includes a file of a higher layer, of the
# other folder of its own layer, of an adapter, or of a folder outside the
# core (the emulator, tools, tests, benchmarks). Layers, bottom to top:
#   base, res  <  formats  <  platform (the port headers)  <  device | net
#   <  settings  <  content | extras  <  app
# Adapters (platform/<adapter>/), the emulator, tools, tests and benchmarks
# may include what they adapt or test and are not checked.
#
# Run as: cmake -DSOURCE_DIR=<dir> -P CheckLayers.cmake

set(rank_base 0)
set(rank_res 0)
set(rank_formats 1)
set(rank_platform 2)
set(rank_device 3)
set(rank_net 3)
set(rank_settings 4)
set(rank_content 5)
set(rank_extras 5)
set(rank_app 6)
set(layers base res formats platform device net settings content extras app)

function(folder_of path out)
  string(REGEX MATCH "^[^/]+" top "${path}")
  set(${out} "${top}" PARENT_SCOPE)
endfunction()

set(problems "")
foreach(layer IN LISTS layers)
  if(layer STREQUAL "platform")
    file(GLOB files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/platform/*.h" "${SOURCE_DIR}/platform/*.cc")
  else()
    file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cc")
  endif()
  foreach(file IN LISTS files)
    if(file STREQUAL "app/main.cc")
      continue()  # main wires the adapters in
    endif()
    file(STRINGS "${SOURCE_DIR}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${line}")
      if(NOT target MATCHES "/")
        continue()  # beside the including file: its own folder
      endif()
      folder_of("${target}" to)
      if(NOT DEFINED rank_${to})
        list(APPEND problems "${file}: includes ${target}, which is outside the core")
        continue()
      endif()
      if(to STREQUAL "platform" AND target MATCHES "^platform/[^/]+/")
        list(APPEND problems "${file}: includes the adapter ${target}")
        continue()
      endif()
      if(to STREQUAL layer)
        continue()
      endif()
      if(NOT rank_${to} LESS rank_${layer})
        list(APPEND problems "${file}: includes ${target} (${to} is not below ${layer})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Layering: a core file reaches up or sideways:\n  ${text}")
endif()
