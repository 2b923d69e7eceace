# Form resources compiled into the program: quorvel_add_form_resources(target file.form...)
# turns each form file into a generated source that registers its text under the form's
# upper-cased class name (RegisterFormResource) at unit initialisation.
#
# This file is also the generator: the build runs it in script mode for each form file.

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${FORM_FILE}" text)
  string(REGEX MATCH "^[ \t\r\n]*[Oo][Bb][Jj][Ee][Cc][Tt][ \t]+([A-Za-z_][A-Za-z0-9_]*[ \t]*:[ \t]*)?([A-Za-z_][A-Za-z0-9_]*)"
         header "${text}")
  if(NOT header)
    message(FATAL_ERROR "${FORM_FILE}: the form must start with 'object Name: TClassName'")
  endif()
  string(TOUPPER "${CMAKE_MATCH_2}" class_name)
  string(FIND "${text}" ")QFORM\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${FORM_FILE}: the text contains the raw-string delimiter )QFORM\"")
  endif()
  file(WRITE "${OUTPUT_FILE}.tmp"
"// Generated from ${FORM_FILE} by cmake/FormResources.cmake.
#include \"framework/classes/FormText.h\"
#include \"framework/rtl/Units.h\"

namespace {
void RegisterForm() {
  quorvel::RegisterFormResource(\"${class_name}\", R\"QFORM(${text})QFORM\");
}
void UnregisterForm() { quorvel::UnregisterFormResource(\"${class_name}\"); }
const quorvel::TUnitRegistration GFormResourceUnit{{\"FormResource.${class_name}\", {}, &RegisterForm, &UnregisterForm}};
}  // namespace
")
  file(COPY_FILE "${OUTPUT_FILE}.tmp" "${OUTPUT_FILE}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT_FILE}.tmp")
  return()
endif()

include_guard(GLOBAL)
set(QUORVEL_FORM_RESOURCES_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(quorvel_add_form_resources target)
  foreach(form IN LISTS ARGN)
    get_filename_component(form_path "${form}" ABSOLUTE)
    get_filename_component(form_name "${form}" NAME)
    set(generated "${CMAKE_CURRENT_BINARY_DIR}/form_resources/${form_name}.cpp")
    add_custom_command(
      OUTPUT "${generated}"
      COMMAND ${CMAKE_COMMAND} -DFORM_FILE=${form_path} -DOUTPUT_FILE=${generated}
              -P "${QUORVEL_FORM_RESOURCES_SCRIPT}"
      DEPENDS "${form_path}" "${QUORVEL_FORM_RESOURCES_SCRIPT}"
      COMMENT "Compiling form resource ${form_name}"
      VERBATIM)
    target_sources(${target} PRIVATE "${generated}")
    # Every generated source names its registration alike.
    set_source_files_properties("${generated}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()
