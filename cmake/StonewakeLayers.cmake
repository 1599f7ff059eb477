# A layer is a library whose include path holds only its own folder: a
# folder of its own in the build tree holds one link, named like the source
# folder, to it. Whatever links the library includes "<folder>/..." and, as
# libraries pass their include paths on, the folders of the layers below;
# nothing else. So `#include "window/..."` from render/ or engine/ fails to
# compile instead of quietly tying a lower layer to a higher one.

# stonewake_layer_includes(<target> <folder>)
function(stonewake_layer_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
