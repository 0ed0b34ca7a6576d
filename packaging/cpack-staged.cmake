# Run by cpack on the files installed for a package, before it packs them
# (CPACK_PRE_BUILD_SCRIPTS). install() gives every file its mode, but the
# folders it makes on the way get theirs from the umask of whoever builds:
# they are set here, so that the package is the same whatever that is.
file(GLOB_RECURSE entries LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(entry IN LISTS entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    file(CHMOD "${entry}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
