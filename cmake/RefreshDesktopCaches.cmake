# Refreshes the desktop's caches of file types, menu entries and icons under PREFIX/share after
# files were installed there or removed: cmake -DPREFIX=/usr/local -P RefreshDesktopCaches.cmake
foreach(refresh "update-mime-database;${PREFIX}/share/mime"
                "update-desktop-database;-q;${PREFIX}/share/applications"
                "gtk-update-icon-cache;-q;-t;${PREFIX}/share/icons/hicolor")
  list(GET refresh 0 tool)
  list(GET refresh -1 folder)
  find_program(tool_path ${tool})
  if(tool_path AND IS_DIRECTORY "${folder}")
    execute_process(COMMAND ${refresh} OUTPUT_QUIET ERROR_QUIET)
  endif()
  unset(tool_path CACHE)
endforeach()
