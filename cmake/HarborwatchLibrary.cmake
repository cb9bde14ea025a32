# harborwatch_library(NAME FOLDER SOURCES... [LINKS targets...] [PRIVATE_LINKS targets...])
#
# One static library per folder of src/. Its headers are included as
# "<folder>/<file>.h", through an include folder of its own in the build tree
# that holds links to exactly the headers among its SOURCES. A library thus
# sees its own headers and those of the libraries it links, and nothing above
# its floor: including a header of a library it does not link fails to compile.
function(harborwatch_library name folder)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS;PRIVATE_LINKS" ${ARGN})
    set(include_root ${CMAKE_BINARY_DIR}/include/${name})
    file(MAKE_DIRECTORY ${include_root}/${folder})
    foreach(source IN LISTS ARG_SOURCES)
        if(source MATCHES "\\.h$" AND NOT EXISTS ${include_root}/${folder}/${source})
            file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${source}
                ${include_root}/${folder}/${source} SYMBOLIC)
        endif()
    endforeach()
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${include_root})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
endfunction()
