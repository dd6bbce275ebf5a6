# zeb_export_map(<target> <mapfile>): only the symbols that the linker version
# script <mapfile> names leave the shared library <target>; a change to the
# script relinks it.
function(zeb_export_map target mapfile)
  get_filename_component(map "${mapfile}" ABSOLUTE)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${map}")
endfunction()
