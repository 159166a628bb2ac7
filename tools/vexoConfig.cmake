# The CMake package of Vexo: find_package(vexo) gives the imported target vexo::vexo
# (libvexo.so with the include folder of the public headers).
include("${CMAKE_CURRENT_LIST_DIR}/vexoTargets.cmake")
