# OpenImageIO for the targets of the including directory: include() it from
# every CMakeLists.txt that links OpenImageIO::OpenImageIO. Its imported
# targets belong to the directory that finds them, so each directory finds the
# package itself.
include_guard(DIRECTORY)

find_package(OpenImageIO CONFIG)
if(NOT OpenImageIO_FOUND)
  message(FATAL_ERROR
    "OpenImageIO was not found: the command-line tool and its tests read and write image "
    "files with it. Install it with scripts/install-deps.sh (Debian package libopenimageio-dev).")
endif()

# Debian's OpenImageIO package lists /usr/include/opencv4 among the target's
# include directories even when OpenCV's headers are not installed, and CMake
# refuses an include directory that does not exist. Keep only those that do.
foreach(qv_oiio_target OpenImageIO::OpenImageIO OpenImageIO::OpenImageIO_Util)
  if(NOT TARGET ${qv_oiio_target})
    continue()
  endif()
  foreach(qv_oiio_property INTERFACE_INCLUDE_DIRECTORIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES)
    get_target_property(qv_oiio_directories ${qv_oiio_target} ${qv_oiio_property})
    if(qv_oiio_directories)
      set(qv_oiio_existing "")
      foreach(qv_oiio_directory IN LISTS qv_oiio_directories)
        if(EXISTS "${qv_oiio_directory}")
          list(APPEND qv_oiio_existing "${qv_oiio_directory}")
        endif()
      endforeach()
      set_target_properties(${qv_oiio_target} PROPERTIES ${qv_oiio_property} "${qv_oiio_existing}")
    endif()
  endforeach()
endforeach()
