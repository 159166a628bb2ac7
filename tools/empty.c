/* libvexo.so is linked from the folder libraries; CMake wants one source of its own. */
typedef int vexo_empty_translation_unit;
