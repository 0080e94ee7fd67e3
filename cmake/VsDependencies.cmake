# Every third-party dependency, found once for the whole tree as imported targets.
# The Debian packages that provide them are listed in tools/install-deps.sh.
find_package(PkgConfig REQUIRED)

set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL REQUIRED COMPONENTS OpenGL GLX)
find_package(GLEW REQUIRED)
find_package(X11 REQUIRED)
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Test)
find_package(OpenCL 1.2 REQUIRED)
find_package(assimp REQUIRED)
find_package(SDL2 REQUIRED)
pkg_check_modules(OPENMPT REQUIRED IMPORTED_TARGET libopenmpt)
pkg_check_modules(GLU REQUIRED IMPORTED_TARGET glu)

# FreeImage ships neither a CMake config nor a pkg-config file.
find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
set_target_properties(FreeImage::FreeImage PROPERTIES
  IMPORTED_LOCATION "${FREEIMAGE_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${FREEIMAGE_INCLUDE_DIR}")

# OpenCL 1.2 API level everywhere: the headers then hide newer entry points.
set_property(TARGET OpenCL::OpenCL APPEND PROPERTY
  INTERFACE_COMPILE_DEFINITIONS CL_TARGET_OPENCL_VERSION=120)
