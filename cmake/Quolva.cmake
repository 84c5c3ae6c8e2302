# Helpers that assemble our CLAP modules from the framework's sources without
# writing anything outside the build tree.

if(NOT EXISTS "${DPF_ROOT}/distrho/DistrhoPluginMain.cpp")
  message(FATAL_ERROR "DPF not found in ${DPF_ROOT} (install dpf-source or set DPF_ROOT)")
endif()
set(DPF_ROOT_DIR "${DPF_ROOT}")
set(QUOLVA_COMMON_DIR "${CMAKE_CURRENT_LIST_DIR}/../plugins/common")
include("${DPF_ROOT}/cmake/DPF-plugin.cmake")

# Warnings for our own code; the framework's sources are compiled quietly.
set(QUOLVA_WARNINGS -Wall -Wextra)

function(quolva_own_code_flags target)
  target_compile_options(${target} PRIVATE ${QUOLVA_WARNINGS})
  dpf__set_target_defaults(${target})
endfunction()

# The framework's DGL library (OpenGL flavour), built once per build tree.
function(quolva_add_dgl)
  if(TARGET dgl-opengl)
    return()
  endif()
  dpf__add_dgl_opengl()
  target_compile_options(dgl-opengl PRIVATE -w)
  # Consumers see the framework headers as system headers.
  get_target_property(_inc dgl-opengl INTERFACE_INCLUDE_DIRECTORIES)
  set_property(TARGET dgl-opengl APPEND PROPERTY INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${_inc})
endfunction()

# quolva_add_clap(<Name> DIR <plugin dir> DSP <sources...> [UI <sources...>] [UI_LIBS <libs...>])
# Builds <Name>-dsp (our engine), <Name>-ui (our editor) and the module <Name>
# written as <Name>.clap; also <Name>-static, the engine with the framework's
# plug-in base, for the unit tests and benchmarks.
function(quolva_add_clap NAME)
  cmake_parse_arguments(ARG "" "DIR" "DSP;UI;UI_LIBS" ${ARGN})

  add_library(${NAME}-config INTERFACE)
  target_include_directories(${NAME}-config INTERFACE "${ARG_DIR}")
  target_include_directories(${NAME}-config SYSTEM INTERFACE "${DPF_ROOT}/distrho" "${DPF_ROOT}/distrho/src")
  if(NOT ARG_UI)
    target_compile_definitions(${NAME}-config INTERFACE QUOLVA_NO_EDITOR)
  endif()

  add_library(${NAME}-dsp STATIC ${ARG_DSP})
  target_link_libraries(${NAME}-dsp PUBLIC ${NAME}-config)
  quolva_own_code_flags(${NAME}-dsp)

  # Framework plug-in base without any wrapper, for tests and benchmarks.
  add_library(${NAME}-static STATIC "${DPF_ROOT}/distrho/DistrhoPluginMain.cpp")
  target_compile_definitions(${NAME}-static PRIVATE DISTRHO_PLUGIN_TARGET_STATIC)
  target_compile_options(${NAME}-static PRIVATE -w)
  target_link_libraries(${NAME}-static PUBLIC ${NAME}-dsp)
  dpf__set_target_defaults(${NAME}-static)

  # The module: the framework's CLAP wrapper behind our own entry (ClapBoundary.cpp).
  add_library(${NAME}-framework OBJECT "${QUOLVA_COMMON_DIR}/FrameworkEntry.cpp")
  target_compile_definitions(${NAME}-framework PRIVATE DISTRHO_PLUGIN_TARGET_CLAP)
  target_compile_options(${NAME}-framework PRIVATE -w)
  target_link_libraries(${NAME}-framework PRIVATE ${NAME}-config)
  dpf__set_target_defaults(${NAME}-framework)

  add_library(${NAME} MODULE "${QUOLVA_COMMON_DIR}/ClapBoundary.cpp" $<TARGET_OBJECTS:${NAME}-framework>)
  target_link_libraries(${NAME} PRIVATE ${NAME}-dsp)
  quolva_own_code_flags(${NAME})
  dpf__set_target_defaults(${NAME})
  dpf__set_module_export_list(${NAME} "clap")
  if(MINGW)
    target_link_libraries(${NAME} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()

  if(ARG_UI)
    quolva_add_dgl()
    add_library(${NAME}-ui STATIC ${ARG_UI})
    target_link_libraries(${NAME}-ui PUBLIC ${NAME}-config dgl-opengl dgl-opengl-definitions dgl-system-libs ${ARG_UI_LIBS})
    quolva_own_code_flags(${NAME}-ui)
    # The wrapper must see the editor's definitions (DGL_OPENGL, HAVE_OPENGL), or
    # it leaves out the CLAP gui extension.
    target_link_libraries(${NAME}-framework PRIVATE dgl-opengl-definitions dgl-system-libs-definitions)
    target_include_directories(${NAME}-framework SYSTEM PRIVATE "${DPF_ROOT}/dgl")
    target_sources(${NAME}-framework PRIVATE "${DPF_ROOT}/distrho/DistrhoUIMain.cpp")
    target_link_libraries(${NAME} PRIVATE ${NAME}-ui)
  endif()

  set_target_properties(${NAME} PROPERTIES
    OUTPUT_NAME "${NAME}"
    PREFIX ""
    SUFFIX ".clap"
    LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/clap")
endfunction()
