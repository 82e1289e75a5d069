# The API reference: Doxygen over the public header (target lumavex_docs, HTML in
# <build>/docs/html, installed with the package under share/doc/lumavex_core/html). It fails on
# any warning, so every export and record stays documented. Included when doxygen was found.
set(LVX_DOCS_DIR ${PROJECT_BINARY_DIR}/docs)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${LVX_DOCS_DIR}/Doxyfile @ONLY)
add_custom_command(
  OUTPUT ${LVX_DOCS_DIR}/html/index.html
  COMMAND ${DOXYGEN_EXECUTABLE} ${LVX_DOCS_DIR}/Doxyfile
  DEPENDS ${PROJECT_SOURCE_DIR}/include/lumavex_core.h ${PROJECT_SOURCE_DIR}/docs/mainpage.md
          ${LVX_DOCS_DIR}/Doxyfile
  WORKING_DIRECTORY ${LVX_DOCS_DIR}
  COMMENT "Writing the API reference (docs/html)" VERBATIM)
add_custom_target(lumavex_docs DEPENDS ${LVX_DOCS_DIR}/html/index.html)
