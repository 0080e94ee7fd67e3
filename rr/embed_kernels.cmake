# Joins the OpenCL sources named in INPUTS (a ;-list, in order) into one C++ string constant,
# written to OUTPUT, so that the library never reads kernel files at run time.
set(source "")
foreach(input IN LISTS INPUTS)
  file(READ "${input}" text)
  get_filename_component(name "${input}" NAME)
  string(APPEND source "// ---- ${name}\n${text}\n")
endforeach()
string(FIND "${source}" ")rrcl\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "kernel sources contain the raw string delimiter )rrcl\"")
endif()
file(WRITE "${OUTPUT}"
  "// Generated from the OpenCL sources of rr/ at build time; do not edit.\n"
  "namespace RadeonRays::detail\n{\n"
  "extern const char* const kKernelSource;\n"
  "const char* const kKernelSource = R\"rrcl(${source})rrcl\";\n"
  "} // namespace RadeonRays::detail\n")
