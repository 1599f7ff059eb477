# Layer libraries whose include path holds only their own folder and, through
# what they link, the layers below them. A layer's sources are compiled
# without the source tree on the include path, so `#include "engine/..."`
# from release/ or transfer/ fails to compile instead of quietly tying a
# lower layer to a higher one.

# Clears the source-tree include path for the targets of the calling folder.
macro(stonewake_layer_folder)
  set_property(DIRECTORY PROPERTY INCLUDE_DIRECTORIES "")
endmacro()

# stonewake_layer_includes(<target> <folder>)
# Lets <target> and whatever links it include "<folder>/...": a folder of its
# own in the build tree holds one link, named <folder>, to the source folder.
function(stonewake_layer_includes target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
